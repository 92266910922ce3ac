#pragma once
// The processor-record list cut down to the processors a process may run on.
#include "platform/topology.hpp"

#include <cstdint>
#include <vector>

namespace kestrix {

// Keeps only processors of mask in group: the other groups' affinities go, masks are cut, and
// NUMA node, cache and core records left without a processor are dropped. Records of other
// relationships stay as they are.
std::vector<processor_record> restrict_records(std::vector<processor_record> records,
                                               std::uint16_t group, std::uint64_t mask);

} // namespace kestrix
