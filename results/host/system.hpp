#pragma once
// The system block of a record for this machine.
#include "model/record.hpp"

namespace kestrix::results {

// From the benchmark's platform layer (CPUID, topology, memory) and the system.
system_block describe_this_machine(bool with_host);

} // namespace kestrix::results
