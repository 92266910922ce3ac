#pragma once
// Processor topology: NUMA nodes > level-3 caches > cores > logical processors.
#include <cstdint>
#include <vector>

namespace kestrix {

struct logical {
    std::uint32_t idx = 0;
    std::uint32_t core_id = 0;
    std::uint32_t os = 0;
    std::uint16_t group = 0;
};

struct core {
    std::uint32_t id = 0;
    std::uint32_t perf_level = 0;
    std::vector<logical> logicals;
};

struct llc {
    std::uint32_t id = 0;
    std::vector<core> cores;
};

struct numa_node {
    std::uint32_t id = 0;
    std::vector<llc> llcs;
};

struct cpu_topology {
    std::vector<numa_node> numa_nodes;
    std::uint32_t perf_level_count = 0;
};

cpu_topology detect_topology();
std::uint32_t core_count(const cpu_topology& t);
void print_topology(const cpu_topology& t);

} // namespace kestrix
