#include "platform/placement.hpp"

#include "platform/os.hpp"

#include <algorithm>

namespace kestrix {

namespace {

using llc_group = std::vector<const core*>;
using smt_slots = std::vector<std::vector<logical>>;

// The cores of one performance level, grouped by LLC with the nodes interleaved
// (node 0 LLC 0, node 1 LLC 0, ..., node 0 LLC 1, ...); also returns the SMT width.
std::vector<llc_group> llc_groups(const cpu_topology& t, std::uint32_t level, std::size_t& width) {
    std::size_t most_llcs = 0;
    for (const auto& node : t.numa_nodes) {
        most_llcs = std::max(most_llcs, node.llcs.size());
    }
    std::vector<llc_group> groups;
    width = 0;
    for (std::size_t i = 0; i < most_llcs; ++i) {
        for (const auto& node : t.numa_nodes) {
            if (node.llcs.size() <= i) {
                continue;
            }
            llc_group group;
            for (const auto& c : node.llcs[i].cores) {
                if (c.perf_level == level && !c.logicals.empty()) {
                    group.push_back(&c);
                    width = std::max(width, c.logicals.size());
                }
            }
            if (!group.empty()) {
                groups.push_back(std::move(group));
            }
        }
    }
    return groups;
}

// Core by core over the groups; slot j takes every core's j-th hardware thread.
void spread(const std::vector<llc_group>& groups, smt_slots& slots) {
    std::size_t most_cores = 0;
    for (const auto& g : groups) {
        most_cores = std::max(most_cores, g.size());
    }
    for (std::size_t i = 0; i < most_cores; ++i) {
        for (const auto& g : groups) {
            if (g.size() <= i) {
                continue;
            }
            const core& c = *g[i];
            for (std::size_t j = 0; j < slots.size() && j < c.logicals.size(); ++j) {
                slots[j].push_back(c.logicals[j]);
            }
        }
    }
}

void append_slots(const smt_slots& slots, std::vector<logical>& out) {
    for (const auto& slot : slots) {
        out.insert(out.end(), slot.begin(), slot.end());
    }
}

} // namespace

std::optional<placement_policy> parse_placement_name(std::string_view text) {
    for (std::size_t i = 0; i < placement_names.size(); ++i) {
        if (placement_names[i] == text) {
            return static_cast<placement_policy>(i);
        }
    }
    return std::nullopt;
}

std::vector<logical> build_placement(std::string_view policy, const cpu_topology& t) {
    const auto kind = parse_placement_name(policy);
    return kind ? build_placement(*kind, t) : std::vector<logical>{};
}

std::vector<logical> build_placement(placement_policy policy, const cpu_topology& t) {
    std::vector<logical> out;
    const bool numa = policy == placement_policy::numa;
    const bool phte = policy == placement_policy::phte;
    if ((!numa && !phte) || t.numa_nodes.empty()) {
        return out;
    }
    if (numa) {
        std::vector<std::vector<llc_group>> levels;
        std::size_t widest = 0;
        for (std::uint32_t level = 0; level < t.perf_level_count; ++level) {
            std::size_t width = 0;
            levels.push_back(llc_groups(t, level, width));
            widest = std::max(widest, width);
        }
        smt_slots slots(widest);
        for (const auto& groups : levels) {
            spread(groups, slots);
        }
        append_slots(slots, out);
    } else {
        for (std::uint32_t level = 0; level < t.perf_level_count; ++level) {
            std::size_t width = 0;
            const auto groups = llc_groups(t, level, width);
            smt_slots slots(width);
            spread(groups, slots);
            append_slots(slots, out);
        }
    }
    return out;
}

void apply_placement(const threading_manager& m, std::uint32_t index) {
    if (index >= m.placement.size()) {
        // A worker past the list may have been started by worker 0 of an earlier run, pinned.
        if (!m.placement.empty()) {
            os::unpin_current_thread();
        }
        return;
    }
    const logical& e = m.placement[index];
    os::pin_current_thread(e.group, e.os % 64);
}

} // namespace kestrix
