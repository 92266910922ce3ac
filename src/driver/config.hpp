#pragma once
// The process-wide topology cache, beside the option records (options/settings.hpp).
#include "options/settings.hpp"
#include "platform/topology.hpp"

#include <optional>

namespace kestrix {

// Detected at most once per process, on first use.
struct topology_cache {
    std::optional<cpu_topology> value;
};
const cpu_topology& get_topology(topology_cache& cache);

} // namespace kestrix
