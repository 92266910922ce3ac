#include "platform/topology.hpp"

#include "console/log_text.hpp"
#include "console/output.hpp"
#include "platform/os.hpp"

#include <algorithm>
#include <fmt/format.h>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <utility>

namespace kestrix {

namespace {

using processor_key = std::pair<std::uint16_t, std::uint32_t>; // group, bit

template <typename F> void for_each_bit(std::uint64_t mask, F f) {
    for (std::uint32_t n = 0; n < 64; ++n) {
        if (((mask >> n) & 1u) != 0) {
            f(n);
        }
    }
}

} // namespace

cpu_topology build_topology(const std::vector<processor_record>& records) {
    std::map<processor_key, std::uint32_t> node_of;
    std::map<processor_key, std::uint32_t> llc_of;
    std::uint32_t llc_ordinal = 0;
    for (const auto& r : records) {
        if (r.relationship == processor_relationship::numa_node) {
            if (!r.groups.empty()) {
                const auto& g = r.groups.front();
                for_each_bit(g.mask, [&](std::uint32_t n) {
                    node_of[{g.group, n}] = r.node_number;
                });
            }
        } else if (r.relationship == processor_relationship::cache && r.cache_level == 3) {
            for (const auto& g : r.groups) {
                for_each_bit(g.mask, [&](std::uint32_t n) { llc_of[{g.group, n}] = llc_ordinal; });
            }
            ++llc_ordinal;
        }
    }

    // node -> llc -> cores (with their efficiency class until levels are known)
    std::map<std::uint32_t, std::map<std::uint32_t, std::vector<core>>> tree;
    std::set<std::uint32_t, std::greater<>> classes;
    std::uint32_t core_ordinal = 0;
    for (const auto& r : records) {
        if (r.relationship != processor_relationship::core) {
            continue;
        }
        core c;
        c.id = core_ordinal++;
        c.perf_level = r.efficiency_class;
        classes.insert(r.efficiency_class);
        std::uint32_t node = 0;
        for (const auto& g : r.groups) {
            for_each_bit(g.mask, [&](std::uint32_t n) {
                const auto it = node_of.find({g.group, n});
                node = it == node_of.end() ? 0 : it->second;
                logical l;
                l.idx = static_cast<std::uint32_t>(c.logicals.size());
                l.core_id = c.id;
                l.os = n;
                l.group = g.group;
                c.logicals.push_back(l);
            });
        }
        std::uint32_t cache = 0;
        if (!c.logicals.empty()) {
            const auto it = llc_of.find({c.logicals.front().group, c.logicals.front().os});
            cache = it == llc_of.end() ? 0 : it->second;
        }
        tree[node][cache].push_back(std::move(c));
    }

    cpu_topology t;
    t.perf_level_count = static_cast<std::uint32_t>(classes.size());
    for (auto& [node_id, llcs] : tree) {
        numa_node node;
        node.id = node_id;
        for (auto& [llc_id, cores] : llcs) {
            llc cache;
            cache.id = llc_id;
            for (auto& c : cores) {
                c.perf_level = static_cast<std::uint32_t>(
                    std::distance(classes.begin(), classes.find(c.perf_level)));
            }
            cache.cores = std::move(cores);
            node.llcs.push_back(std::move(cache));
        }
        t.numa_nodes.push_back(std::move(node));
    }
    return t;
}

cpu_topology detect_topology() {
    return build_topology(os::processor_records());
}

std::uint32_t core_count(const cpu_topology& t) {
    std::uint32_t count = 0;
    for (const auto& node : t.numa_nodes) {
        for (const auto& cache : node.llcs) {
            count += static_cast<std::uint32_t>(cache.cores.size());
        }
    }
    if (count == 0) {
        return std::thread::hardware_concurrency();
    }
    return count;
}

std::vector<std::string> topology_lines(const cpu_topology& t) {
    namespace lt = log_text;
    std::vector<std::string> lines;
    lines.push_back(fmt::format("{}{}", lt::topo_levels, t.perf_level_count));
    for (const auto& node : t.numa_nodes) {
        lines.push_back(fmt::format("{}{}", lt::topo_numa, node.id));
        for (const auto& cache : node.llcs) {
            lines.push_back(fmt::format("{}{}", lt::topo_llc, cache.id));
            for (const auto& c : cache.cores) {
                lines.push_back(fmt::format("{}{}{}{}", lt::topo_core, c.id, lt::topo_perf_level,
                                            c.perf_level));
                for (const auto& l : c.logicals) {
                    lines.push_back(
                        fmt::format("{}{}{}{}", lt::topo_logical, l.idx, lt::topo_os, l.os));
                }
            }
        }
    }
    return lines;
}

void print_topology(const cpu_topology& t) {
    for (const auto& line : topology_lines(t)) {
        write_unflushed(stream::out, line + "\n");
    }
}

} // namespace kestrix
