#pragma once
// What kestrix-stress asks of the system beyond the platform layer: the host name, whether
// standard output is a terminal, and the corrected-error counters.
#include <cstdint>
#include <optional>
#include <string>

namespace kestrix::stress {

std::string host_name(); // empty when unknown
bool output_is_terminal();

struct error_counters {
    std::optional<std::uint64_t> edac_corrected; // sum of every memory controller's ce_count
    std::optional<std::uint64_t> machine_checks; // the MCE row of the interrupt counts
};

// Read under root ("/" on a real system; a recorded tree in tests). Linux only; elsewhere the
// files are not there and both are absent.
error_counters read_error_counters(const std::string& root);

// Exit code of a process ended by an interrupt (interrupt_received()'s number).
int interrupted_exit_code(int number);

} // namespace kestrix::stress
