#pragma once
// The processor topology as kestrix's platform layer builds it, for the machine whose root is
// `root`: hwloc is handed the same root (HWLOC_FSROOT) for this program's own reads only, never
// in the environment kestrix starts with.
#include "platform/topology.hpp"

#include <filesystem>
#include <optional>

namespace kestrix::results {

// None when hwloc finds no processor topology below a replayed root (it would ask this
// processor instead).
std::optional<cpu_topology> read_topology(const std::filesystem::path& root);

} // namespace kestrix::results
