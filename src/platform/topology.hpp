#pragma once
// Processor topology: NUMA nodes > level-3 caches > cores > logical processors.
#include <cstdint>
#include <string>
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

// One processor-information record as the system lists them: a NUMA node, a cache or a core,
// with its group affinities (bit n of a group's mask is processor n of that group).
enum class processor_relationship : std::uint8_t { core = 0, numa_node = 1, cache = 2, other = 3 };

struct group_affinity {
    std::uint64_t mask = 0;
    std::uint16_t group = 0;
};

struct processor_record {
    processor_relationship relationship = processor_relationship::other;
    std::uint32_t node_number = 0;     // NUMA node records
    std::uint8_t cache_level = 0;      // cache records
    std::uint8_t efficiency_class = 0; // core records; higher is faster
    std::vector<group_affinity> groups;
};

// The tree from the record list (pure); detect_topology() = build_topology(system's records).
cpu_topology build_topology(const std::vector<processor_record>& records);
std::vector<std::string> topology_lines(const cpu_topology& t);

cpu_topology detect_topology();
std::uint32_t core_count(const cpu_topology& t);
void print_topology(const cpu_topology& t);

} // namespace kestrix
