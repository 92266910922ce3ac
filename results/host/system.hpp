#pragma once
// The system block of a record for this machine.
#include "model/record.hpp"

#include <filesystem>

namespace kestrix::results {

// From the benchmark's platform layer (CPUID, topology, memory) and the system's files below
// `root` (fs_root.hpp); the block says which fields came from below the root.
system_block describe_this_machine(bool with_host, const std::filesystem::path& root);

} // namespace kestrix::results
