#pragma once
// kestrix-stress from the command line to the exit code.
#include "stress/engine.hpp"

#include <optional>
#include <string>
#include <vector>

namespace kestrix::stress {

int program_main(int argc, char** argv);

// The processors to test: those named (and allowed), or the first logical processor of every
// core, or all of them with smt. Processors named but not allowed are listed in refused.
struct processor_choice {
    std::vector<logical> processors;
    std::vector<std::uint32_t> refused;
};
processor_choice choose_processors(const cpu_topology& t,
                                   const std::optional<std::vector<std::uint32_t>>& named,
                                   bool smt);

// sse2 and the widest variant that runs here (nothing wider when none does).
std::vector<isa_kind> default_variants(workload_kind workload);

// The end table, one row per core.
std::vector<std::string> core_table(const std::vector<core_report>& cores);

// One status line.
std::string status_text(const stress_progress& p, stress_mode mode, double duration_s);

} // namespace kestrix::stress
