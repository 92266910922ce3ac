#pragma once
// Thread placement: "os" (no pinning), "numa" and "phte" placement lists.
#include "platform/topology.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrix {

struct threading_manager {
    std::uint32_t thread_count = 0;
    std::vector<logical> placement;
};

enum class placement_policy : std::uint8_t { os, numa, phte };

inline constexpr std::array<std::string_view, 3> placement_names = {"os", "numa", "phte"};

inline std::string_view placement_name(placement_policy p) {
    return placement_names[static_cast<std::size_t>(p)];
}
std::optional<placement_policy> parse_placement_name(std::string_view text);

// The list for "numa" and "phte"; empty for "os" (and, by name, for an unknown policy).
std::vector<logical> build_placement(placement_policy policy, const cpu_topology& t);
std::vector<logical> build_placement(std::string_view policy, const cpu_topology& t);
// Pins the calling thread to placement[index]; leaves it alone past the end of the list.
void apply_placement(const threading_manager& m, std::uint32_t index);

} // namespace kestrix
