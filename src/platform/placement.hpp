#pragma once
// Thread placement: "os" (no pinning), "numa" and "phte" placement lists.
#include "platform/topology.hpp"

#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrix {

struct threading_manager {
    std::uint32_t thread_count = 0;
    std::vector<logical> placement;
};

std::vector<logical> build_placement(std::string_view policy, const cpu_topology& t);
// Pins the calling thread to placement[index]; leaves it alone past the end of the list.
void apply_placement(const threading_manager& m, std::uint32_t index);

} // namespace kestrix
