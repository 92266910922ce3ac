#include "records.hpp"

#include "platform/placement.hpp"
#include "platform/topology.hpp"

#include <gtest/gtest.h>
#include <thread>

namespace kestrix {
namespace {

using test::bits;
using test::cache;
using test::core_rec;
using test::joined;
using test::numa;
using test::placement_text;
using test::span;

std::vector<processor_record> single_socket() {
    std::vector<processor_record> r = {numa(0, {{span(0, 3), 0}}), cache(2, {{bits({0}), 0}}),
                                       cache(3, {{span(0, 3), 0}})};
    for (unsigned n = 0; n < 4; ++n) {
        r.push_back(core_rec(0, {{bits({n}), 0}}));
    }
    return r;
}

// Fast cores F0..F3 (class 1, two threads each: processors 0..7) and efficient E0..E3
// (class 0: processors 8..11), one node, one L3.
std::vector<processor_record> hybrid() {
    std::vector<processor_record> r = {numa(0, {{span(0, 11), 0}}), cache(3, {{span(0, 11), 0}})};
    for (unsigned n = 0; n < 4; ++n) {
        r.push_back(core_rec(1, {{bits({2 * n, 2 * n + 1}), 0}}));
    }
    for (unsigned n = 8; n < 12; ++n) {
        r.push_back(core_rec(0, {{bits({n}), 0}}));
    }
    return r;
}

// Two sockets, one L3 and node each, four 2-thread cores per socket.
std::vector<processor_record> two_sockets() {
    std::vector<processor_record> r = {numa(0, {{span(0, 7), 0}}), numa(1, {{span(8, 15), 0}}),
                                       cache(3, {{span(0, 7), 0}}), cache(3, {{span(8, 15), 0}})};
    for (unsigned n = 0; n < 8; ++n) {
        r.push_back(core_rec(0, {{bits({2 * n, 2 * n + 1}), 0}}));
    }
    return r;
}

// 96 processors in two groups of 48 (one node and one L3 per group); 48 two-thread cores.
std::vector<processor_record> two_groups() {
    std::vector<processor_record> r = {numa(0, {{span(0, 47), 0}}), numa(1, {{span(0, 47), 1}}),
                                       cache(3, {{span(0, 47), 0}}), cache(3, {{span(0, 47), 1}})};
    for (std::uint16_t g = 0; g < 2; ++g) {
        for (unsigned n = 0; n < 24; ++n) {
            r.push_back(core_rec(0, {{bits({2 * n, 2 * n + 1}), g}}));
        }
    }
    return r;
}

TEST(Topology, SingleSocketPrint) {
    const cpu_topology t = build_topology(single_socket());
    EXPECT_EQ(joined(topology_lines(t)), "perf_level_count=1\n"
                                         "numa node id=0\n"
                                         "|--llc id=0\n"
                                         "|  |--core id=0 perf_level=0\n"
                                         "|  |  |--logical idx=0 os=0\n"
                                         "|  |--core id=1 perf_level=0\n"
                                         "|  |  |--logical idx=0 os=1\n"
                                         "|  |--core id=2 perf_level=0\n"
                                         "|  |  |--logical idx=0 os=2\n"
                                         "|  |--core id=3 perf_level=0\n"
                                         "|  |  |--logical idx=0 os=3\n");
    EXPECT_EQ(core_count(t), 4u);
    EXPECT_EQ(placement_text(build_placement("numa", t)), "0.0 1.0 2.0 3.0");
    EXPECT_EQ(placement_text(build_placement("phte", t)), "0.0 1.0 2.0 3.0");
}

TEST(Topology, HybridLevelsPrintedAndPlaced) {
    const cpu_topology t = build_topology(hybrid());
    EXPECT_EQ(t.perf_level_count, 2u);
    EXPECT_EQ(core_count(t), 8u);
    const std::string text = joined(topology_lines(t));
    EXPECT_EQ(text.substr(0, text.find("|  |--core id=1")), "perf_level_count=2\n"
                                                            "numa node id=0\n"
                                                            "|--llc id=0\n"
                                                            "|  |--core id=0 perf_level=0\n"
                                                            "|  |  |--logical idx=0 os=0\n"
                                                            "|  |  |--logical idx=1 os=1\n");
    EXPECT_NE(text.find("|  |--core id=7 perf_level=1\n|  |  |--logical idx=0 os=11\n"),
              std::string::npos);
    EXPECT_EQ(placement_text(build_placement("numa", t)),
              "0.0 1.0 2.0 3.0 4.0 5.0 6.0 7.0 0.1 1.1 2.1 3.1");
    EXPECT_EQ(placement_text(build_placement("phte", t)),
              "0.0 1.0 2.0 3.0 0.1 1.1 2.1 3.1 4.0 5.0 6.0 7.0");
}

TEST(Topology, ThreeEfficiencyClassesRankHighestFirst) {
    std::vector<processor_record> r = {numa(0, {{span(0, 3), 0}})};
    r.push_back(core_rec(0, {{bits({0}), 0}}));
    r.push_back(core_rec(7, {{bits({1}), 0}}));
    r.push_back(core_rec(2, {{bits({2}), 0}}));
    r.push_back(core_rec(7, {{bits({3}), 0}}));
    const cpu_topology t = build_topology(r);
    ASSERT_EQ(t.perf_level_count, 3u);
    const auto& cores = t.numa_nodes.at(0).llcs.at(0).cores;
    ASSERT_EQ(cores.size(), 4u);
    EXPECT_EQ(cores[0].perf_level, 2u);
    EXPECT_EQ(cores[1].perf_level, 0u);
    EXPECT_EQ(cores[2].perf_level, 1u);
    EXPECT_EQ(cores[3].perf_level, 0u);
    EXPECT_EQ(placement_text(build_placement("phte", t)), "1.0 3.0 2.0 0.0");
}

TEST(Topology, TwoSocketsInterleaveNodes) {
    const cpu_topology t = build_topology(two_sockets());
    ASSERT_EQ(t.numa_nodes.size(), 2u);
    EXPECT_EQ(t.numa_nodes[1].id, 1u);
    EXPECT_EQ(t.numa_nodes[1].llcs.at(0).id, 1u);
    EXPECT_EQ(t.numa_nodes[1].llcs[0].cores.front().id, 4u); // core ids run on across sockets
    EXPECT_EQ(core_count(t), 8u);
    const std::string expected = "0.0 4.0 1.0 5.0 2.0 6.0 3.0 7.0 0.1 4.1 1.1 5.1 2.1 6.1 3.1 7.1";
    EXPECT_EQ(placement_text(build_placement("numa", t)), expected);
    EXPECT_EQ(placement_text(build_placement("phte", t)), expected);
    const std::string text = joined(topology_lines(t));
    EXPECT_NE(text.find("numa node id=1\n|--llc id=1\n|  |--core id=4 perf_level=0\n"
                        "|  |  |--logical idx=0 os=8\n|  |  |--logical idx=1 os=9\n"),
              std::string::npos);
}

TEST(Topology, MoreThan64ProcessorsInTwoGroups) {
    const cpu_topology t = build_topology(two_groups());
    ASSERT_EQ(t.numa_nodes.size(), 2u);
    EXPECT_EQ(core_count(t), 48u);
    const core& first_of_group1 = t.numa_nodes[1].llcs.at(0).cores.at(0);
    EXPECT_EQ(first_of_group1.id, 24u);
    ASSERT_EQ(first_of_group1.logicals.size(), 2u);
    EXPECT_EQ(first_of_group1.logicals[0].os, 0u); // os restarts in every group
    EXPECT_EQ(first_of_group1.logicals[0].group, 1u);
    const auto list = build_placement("numa", t);
    ASSERT_EQ(list.size(), 96u);
    EXPECT_EQ(list[0].group, 0u);
    EXPECT_EQ(list[1].group, 1u);
    EXPECT_EQ(list[1].os, 0u);
    EXPECT_EQ(list[2].os, 2u);
    EXPECT_EQ(list[48].idx, 1u);
    EXPECT_EQ(list[95].group, 1u);
    EXPECT_EQ(list[95].os, 47u);
}

TEST(Topology, CoreWithTwoGroupAffinities) {
    const std::vector<processor_record> r = {numa(0, {{bits({63}), 0}}), numa(1, {{bits({0}), 1}}),
                                             cache(3, {{bits({63}), 0}, {bits({0}), 1}}),
                                             core_rec(0, {{bits({63}), 0}, {bits({0}), 1}})};
    const cpu_topology t = build_topology(r);
    // the node comes from the last logical, the LLC from the first
    ASSERT_EQ(t.numa_nodes.size(), 1u);
    EXPECT_EQ(t.numa_nodes[0].id, 1u);
    const core& c = t.numa_nodes[0].llcs.at(0).cores.at(0);
    ASSERT_EQ(c.logicals.size(), 2u);
    EXPECT_EQ(c.logicals[0].os, 63u);
    EXPECT_EQ(c.logicals[0].group, 0u);
    EXPECT_EQ(c.logicals[1].os, 0u);
    EXPECT_EQ(c.logicals[1].group, 1u);
    EXPECT_EQ(c.logicals[1].idx, 1u);
    const auto list = build_placement("numa", t);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].group, 1u);
}

TEST(Topology, MissingEntriesAndSkippedRecords) {
    const std::vector<processor_record> r = {
        numa(5, {{bits({1}), 0}}),
        numa(2, {}), // a node record without affinities notes nothing
        cache(2, {{span(0, 2), 0}}),
        cache(3, {}), // counts as LLC 0 but covers nothing
        cache(3, {{bits({2}), 0}}),
        core_rec(0, {{bits({0}), 0}}), // no node record: node 0, no L3: LLC 0
        core_rec(0, {{bits({1}), 0}}),
        core_rec(0, {{bits({2}), 0}}),
        core_rec(0, {}), // no logicals: node 0, LLC 0, never placed
    };
    const cpu_topology t = build_topology(r);
    EXPECT_EQ(joined(topology_lines(t)), "perf_level_count=1\n"
                                         "numa node id=0\n"
                                         "|--llc id=0\n"
                                         "|  |--core id=0 perf_level=0\n"
                                         "|  |  |--logical idx=0 os=0\n"
                                         "|  |--core id=3 perf_level=0\n"
                                         "|--llc id=1\n"
                                         "|  |--core id=2 perf_level=0\n"
                                         "|  |  |--logical idx=0 os=2\n"
                                         "numa node id=5\n"
                                         "|--llc id=0\n"
                                         "|  |--core id=1 perf_level=0\n"
                                         "|  |  |--logical idx=0 os=1\n");
    EXPECT_EQ(core_count(t), 4u);
    EXPECT_EQ(placement_text(build_placement("numa", t)), "0.0 1.0 2.0");
}

TEST(Topology, EmptyTopology) {
    const cpu_topology t = build_topology({});
    EXPECT_TRUE(t.numa_nodes.empty());
    EXPECT_EQ(t.perf_level_count, 0u);
    EXPECT_EQ(joined(topology_lines(t)), "perf_level_count=0\n");
    EXPECT_EQ(core_count(t), std::thread::hardware_concurrency());
    EXPECT_TRUE(build_placement("numa", t).empty());
    EXPECT_TRUE(build_placement("phte", t).empty());
}

TEST(Placement, PolicyNames) {
    const cpu_topology t = build_topology(single_socket());
    for (const char* name : {"os", "", "NUMA", "numa ", "phte2", "ph"}) {
        EXPECT_TRUE(build_placement(name, t).empty()) << name;
    }
}

TEST(Placement, LlcGroupsAlternate) {
    // One node, two L3 caches of four single-thread cores.
    std::vector<processor_record> r = {numa(0, {{span(0, 7), 0}}), cache(3, {{span(0, 3), 0}}),
                                       cache(3, {{span(4, 7), 0}})};
    for (unsigned n = 0; n < 8; ++n) {
        r.push_back(core_rec(0, {{bits({n}), 0}}));
    }
    EXPECT_EQ(placement_text(build_placement("numa", build_topology(r))),
              "0.0 4.0 1.0 5.0 2.0 6.0 3.0 7.0");
}

TEST(Placement, UnequalLlcCountsAndSizes) {
    // Node 0 has two L3s (2 cores, 1 core), node 1 one L3 with three cores.
    std::vector<processor_record> r = {numa(0, {{span(0, 2), 0}}), numa(1, {{span(3, 5), 0}}),
                                       cache(3, {{span(0, 1), 0}}), cache(3, {{bits({2}), 0}}),
                                       cache(3, {{span(3, 5), 0}})};
    for (unsigned n = 0; n < 6; ++n) {
        r.push_back(core_rec(0, {{bits({n}), 0}}));
    }
    // groups in order: n0/llc0 {0,1}, n1/llc2 {3,4,5}, n0/llc1 {2}
    EXPECT_EQ(placement_text(build_placement("numa", build_topology(r))),
              "0.0 3.0 2.0 1.0 4.0 5.0");
}

TEST(Placement, NumaSharesSlotsAcrossLevels) {
    // Level 0 has a 2-thread core, level 1 two single-thread cores: numa fills every core's
    // first thread before any second one, phte finishes level 0 first.
    std::vector<processor_record> s = {numa(0, {{span(0, 4), 0}}), core_rec(3, {{bits({0, 1}), 0}}),
                                       core_rec(1, {{bits({2}), 0}}),
                                       core_rec(1, {{bits({3}), 0}})};
    const cpu_topology u = build_topology(s);
    EXPECT_EQ(placement_text(build_placement("numa", u)), "0.0 1.0 2.0 0.1");
    EXPECT_EQ(placement_text(build_placement("phte", u)), "0.0 0.1 1.0 2.0");
}

} // namespace
} // namespace kestrix
