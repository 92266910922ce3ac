#pragma once
// The system block of a record.
#include <nlohmann/json.hpp>

#include <string>

namespace kestrix::results {

// This machine, from the benchmark's platform layer (CPUID, topology, memory) and the system.
nlohmann::json describe_this_machine(bool with_host);

// What a saved log shows of the machine that wrote it.
nlohmann::json describe_from_log(const nlohmann::json& log_data);

} // namespace kestrix::results
