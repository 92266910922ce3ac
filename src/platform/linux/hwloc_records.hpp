#pragma once
// hwloc's view of the machine turned into the processor-record list the topology is built from.
#include "platform/topology.hpp"

#include <hwloc.h>
#include <vector>

namespace kestrix {

// NUMA nodes, level-3 caches and cores, restricted to the processors this process may use.
// Processor number cpu becomes bit cpu % 64 of group cpu / 64.
std::vector<processor_record> hwloc_processor_records(hwloc_topology_t topology);

} // namespace kestrix
