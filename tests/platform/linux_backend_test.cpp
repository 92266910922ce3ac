#include "records.hpp"

#include "platform/linux/hwloc_records.hpp"
#include "platform/linux/meminfo.hpp"
#include "platform/memory.hpp"
#include "platform/placement.hpp"
#include "support/huge_pages.hpp"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrix {
namespace {

using test::joined;
using test::placement_text;

// A synthetic machine, optionally restricted to some processors and with CPU kinds.
class synthetic {
public:
    explicit synthetic(const char* description, const char* allowed = nullptr) {
        hwloc_topology_init(&topology_);
        if (allowed != nullptr) {
            hwloc_topology_set_flags(topology_, HWLOC_TOPOLOGY_FLAG_INCLUDE_DISALLOWED);
        }
        ok_ = hwloc_topology_set_synthetic(topology_, description) == 0 &&
              hwloc_topology_load(topology_) == 0;
        if (ok_ && allowed != nullptr) {
            hwloc_bitmap_t set = hwloc_bitmap_alloc();
            hwloc_bitmap_list_sscanf(set, allowed);
            ok_ = hwloc_topology_allow(topology_, set, nullptr, HWLOC_ALLOW_FLAG_CUSTOM) == 0;
            hwloc_bitmap_free(set);
        }
    }
    ~synthetic() { hwloc_topology_destroy(topology_); }
    synthetic(const synthetic&) = delete;
    synthetic& operator=(const synthetic&) = delete;

    // Registers the processors of a list ("0-7") as one CPU kind; with a core type as the
    // Linux discovery names hybrid Intel cores.
    void kind(const char* cpus, int efficiency, const char* core_type = nullptr) {
        hwloc_bitmap_t set = hwloc_bitmap_alloc();
        hwloc_bitmap_list_sscanf(set, cpus);
        hwloc_info_s info{const_cast<char*>("CoreType"), const_cast<char*>(core_type)};
        ok_ = ok_ && hwloc_cpukinds_register(topology_, set, efficiency, core_type ? 1 : 0,
                                             core_type ? &info : nullptr, 0) == 0;
        hwloc_bitmap_free(set);
    }

    cpu_topology tree() const {
        EXPECT_TRUE(ok_);
        return build_topology(hwloc_processor_records(topology_));
    }

private:
    hwloc_topology_t topology_ = nullptr;
    bool ok_ = false;
};

TEST(HwlocRecords, TwoSocketsWithSmt) {
    const cpu_topology t = synthetic("pack:2 [numa] l3:1 core:4 pu:2").tree();
    EXPECT_EQ(t.perf_level_count, 1u);
    ASSERT_EQ(t.numa_nodes.size(), 2u);
    EXPECT_EQ(t.numa_nodes[1].llcs.at(0).id, 1u);
    EXPECT_EQ(core_count(t), 8u);
    EXPECT_EQ(placement_text(build_placement("numa", t)),
              "0.0 4.0 1.0 5.0 2.0 6.0 3.0 7.0 0.1 4.1 1.1 5.1 2.1 6.1 3.1 7.1");
    const std::string text = joined(topology_lines(t));
    EXPECT_NE(text.find("numa node id=1\n|--llc id=1\n|  |--core id=4 perf_level=0\n"
                        "|  |  |--logical idx=0 os=8\n|  |  |--logical idx=1 os=9\n"),
              std::string::npos)
        << text;
}

TEST(HwlocRecords, HybridKindsRankedByEfficiency) {
    // Eight 2-thread cores: the first four (processors 0..7) are the faster kind.
    synthetic m("pack:1 [numa] l3:1 core:8 pu:2");
    m.kind("8-15", 0, "IntelAtom");
    m.kind("0-7", 100, "IntelCore");
    const cpu_topology t = m.tree();
    EXPECT_EQ(t.perf_level_count, 2u);
    const auto& cores = t.numa_nodes.at(0).llcs.at(0).cores;
    ASSERT_EQ(cores.size(), 8u);
    EXPECT_EQ(cores[0].perf_level, 0u);
    EXPECT_EQ(cores[3].perf_level, 0u);
    EXPECT_EQ(cores[4].perf_level, 1u);
    EXPECT_EQ(cores[7].perf_level, 1u);
    EXPECT_EQ(placement_text(build_placement("phte", t)),
              "0.0 1.0 2.0 3.0 0.1 1.1 2.1 3.1 4.0 5.0 6.0 7.0 4.1 5.1 6.1 7.1");
    EXPECT_EQ(placement_text(build_placement("numa", t)),
              "0.0 1.0 2.0 3.0 4.0 5.0 6.0 7.0 0.1 1.1 2.1 3.1 4.1 5.1 6.1 7.1");
}

TEST(HwlocRecords, KindsThatDifferOnlyInFrequencyAreOneLevel) {
    struct row {
        const char* name;
        int fast, slow;
        const char* fast_type;
        const char* slow_type;
        std::uint32_t levels;
    };
    const row rows[] = {
        {"ranked, typed", 100, 10, "IntelCore", "IntelAtom", 2},
        {"ranked, untyped", 100, 10, nullptr, nullptr, 1},
        {"core types ranked by hwloc", -1, -1, "IntelCore", "IntelAtom", 2},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        synthetic m("pack:1 [numa] l3:1 core:4 pu:1");
        m.kind("0-1", r.fast, r.fast_type);
        m.kind("2-3", r.slow, r.slow_type);
        const cpu_topology t = m.tree();
        EXPECT_EQ(t.perf_level_count, r.levels);
        EXPECT_EQ(core_count(t), 4u);
    }
}

TEST(HwlocRecords, ProcessorsBeyond64FormGroups) {
    // 2 nodes of 40 processors: node 1 straddles the first group boundary.
    const cpu_topology t = synthetic("pack:2 [numa] l3:1 core:20 pu:2").tree();
    ASSERT_EQ(t.numa_nodes.size(), 2u);
    EXPECT_EQ(core_count(t), 40u);
    const auto& node1 = t.numa_nodes[1].llcs.at(0).cores;
    ASSERT_EQ(node1.size(), 20u);
    EXPECT_EQ(node1.front().logicals.at(0).os, 40u);
    EXPECT_EQ(node1.front().logicals.at(0).group, 0u);
    EXPECT_EQ(node1.back().logicals.at(1).os, 15u); // processor 79
    EXPECT_EQ(node1.back().logicals.at(1).group, 1u);
    EXPECT_EQ(build_placement("numa", t).size(), 80u);
}

TEST(HwlocRecords, OnlyAllowedProcessors) {
    // Processors 1, 2 and 3 allowed: core 0 keeps one thread, core 1 both, cores 2 and 3
    // and the second socket disappear.
    const cpu_topology t = synthetic("pack:2 [numa] l3:1 core:2 pu:2", "1-3").tree();
    EXPECT_EQ(joined(topology_lines(t)), "perf_level_count=1\n"
                                         "numa node id=0\n"
                                         "|--llc id=0\n"
                                         "|  |--core id=0 perf_level=0\n"
                                         "|  |  |--logical idx=0 os=1\n"
                                         "|  |--core id=1 perf_level=0\n"
                                         "|  |  |--logical idx=0 os=2\n"
                                         "|  |  |--logical idx=1 os=3\n");
}

TEST(HwlocRecords, WithoutL3EveryCoreInLlcZero) {
    const cpu_topology t = synthetic("pack:2 [numa] core:2 pu:1").tree();
    ASSERT_EQ(t.numa_nodes.size(), 2u);
    EXPECT_EQ(t.numa_nodes[0].llcs.at(0).id, 0u);
    EXPECT_EQ(t.numa_nodes[1].llcs.at(0).id, 0u);
}

TEST(HostTopology, MatchesTheSystem) {
    const cpu_topology t = detect_topology();
    ASSERT_FALSE(t.numa_nodes.empty());
    EXPECT_GE(t.perf_level_count, 1u);
    std::size_t logicals = 0;
    for (const auto& node : t.numa_nodes) {
        for (const auto& cache : node.llcs) {
            for (const auto& c : cache.cores) {
                logicals += c.logicals.size();
            }
        }
    }
    cpu_set_t set;
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    EXPECT_EQ(logicals, static_cast<std::size_t>(CPU_COUNT(&set)));
}

TEST(Meminfo, Fields) {
    const std::string text = "MemTotal:       16384000 kB\n"
                             "MemFree:         1000 kB\n"
                             "MemAvailable:   8192000 kB\n"
                             "HugePages_Total:      4\n"
                             "Hugepagesize:       2048 kB\n"
                             "Broken:    12x kB\n"
                             "Huge:  99999999999999999999 kB\n"
                             "Wide:  18014398509481984 kB";
    struct row {
        const char* name;
        std::optional<std::uint64_t> bytes;
    };
    const row rows[] = {
        {"MemAvailable", 8192000ull * 1024},
        {"MemFree", 1024000},
        {"Hugepagesize", 2 * 1024 * 1024},
        {"HugePages_Total", 4},
        {"Mem", std::nullopt},       // a prefix of a name is no name
        {"Available", std::nullopt}, // nor is a suffix
        {"Broken", std::nullopt},
        {"Huge", std::nullopt},
        {"Wide", std::nullopt}, // in range as kB, not as bytes
        {"Missing", std::nullopt},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(meminfo_bytes(text, r.name), r.bytes) << r.name;
    }
    EXPECT_EQ(meminfo_bytes("", "MemAvailable"), std::nullopt);
    EXPECT_EQ(meminfo_bytes("MemAvailable:", "MemAvailable"), std::nullopt);
}

TEST(Overcommit, RealFigureAdmitsOrdinaryBlocks) {
    void* p = aligned_allocate(8 * 1024 * 1024);
    ASSERT_NE(p, nullptr);
    aligned_release(p);
    // Far beyond the machine: refused as an allocation, not left to the page faults.
    const std::uint64_t beyond = available_physical_memory() * 4 + (std::uint64_t{1} << 30);
    EXPECT_EQ(aligned_allocate(beyond), nullptr);
}

TEST(Placement, PinsTheCallingThread) {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int last = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            last = cpu;
        }
    }
    ASSERT_GE(last, 0);
    threading_manager m;
    logical l;
    l.group = static_cast<std::uint16_t>(last / 64);
    l.os = static_cast<std::uint32_t>(last % 64);
    m.placement.push_back(l);
    std::thread([&] {
        apply_placement(m, 0);
        cpu_set_t now;
        pthread_getaffinity_np(pthread_self(), sizeof now, &now);
        EXPECT_EQ(CPU_COUNT(&now), 1);
        EXPECT_TRUE(CPU_ISSET(last, &now));
    }).join();
    std::thread([&] {
        apply_placement(m, 1); // past the list: left alone
        cpu_set_t now;
        pthread_getaffinity_np(pthread_self(), sizeof now, &now);
        EXPECT_EQ(CPU_COUNT(&now), CPU_COUNT(&allowed));
    }).join();
    // A processor that does not exist: the pin fails silently.
    m.placement[0].group = 200;
    std::thread([&] { apply_placement(m, 0); }).join();
}

// A worker is pinned only to a processor of the start affinity (another machine's topology
// numbers processors this process may not use); any other worker, and one past the list, is free
// within the start affinity, also when it inherited a pin from the thread that started it.
TEST(Placement, NeverPinsOutsideTheStartAffinity) {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    std::vector<int> cpus;
    int outside = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            cpus.push_back(cpu);
        } else if (outside < 0) {
            outside = cpu;
        }
    }
    if (cpus.size() < 2 || outside < 0) {
        GTEST_SKIP() << "needs two allowed processors and one outside";
    }
    const auto entry = [](int cpu) {
        logical l;
        l.group = static_cast<std::uint16_t>(cpu / 64);
        l.os = static_cast<std::uint32_t>(cpu % 64);
        return l;
    };
    struct row {
        int cpu;             // the list's only entry
        std::uint32_t index; // the worker's
        bool pinned;         // else free on every allowed processor
    };
    for (const row& r :
         {row{cpus.front(), 0, true}, row{outside, 0, false}, row{cpus.front(), 1, false}}) {
        SCOPED_TRACE("processor " + std::to_string(r.cpu) + ", worker " + std::to_string(r.index));
        threading_manager starter, m;
        starter.placement.push_back(entry(cpus.back()));
        m.placement.push_back(entry(r.cpu));
        std::thread([&] {
            apply_placement(starter, 0);
            std::thread([&] {
                apply_placement(m, r.index);
                cpu_set_t now;
                pthread_getaffinity_np(pthread_self(), sizeof now, &now);
                if (r.pinned) {
                    EXPECT_EQ(CPU_COUNT(&now), 1);
                    EXPECT_TRUE(CPU_ISSET(r.cpu, &now));
                } else {
                    EXPECT_TRUE(CPU_EQUAL(&now, &allowed));
                }
            }).join();
        }).join();
    }
}

using test::huge_page_reservation;

TEST(LargePages, HugeTlbBlocks) {
    const std::uint64_t m = large_page_minimum();
    ASSERT_NE(m, 0u) << "no Hugepagesize in /proc/meminfo";
    EXPECT_EQ(large_page_minimum(), m);
    const huge_page_reservation reservation(3);
    if (!reservation.reason().empty()) {
        GTEST_SKIP() << reservation.reason();
    }
    void* a = large_page_allocate(1); // one page
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % m, 0u);
    void* b = large_page_allocate(m + 1); // two pages
    ASSERT_NE(b, nullptr);
    static_cast<unsigned char*>(a)[m - 1] = 1;
    static_cast<unsigned char*>(b)[2 * m - 1] = 1;
    // Only our three pages were free: now none is left. Pages that others reserved before us
    // would still serve a request, so the exhaustion is checked only without them.
    if (reservation.previous() == 0) {
        EXPECT_EQ(large_page_allocate(1), nullptr);
    }
    large_page_release(a);
    void* c = large_page_allocate(m); // the released page is back
    EXPECT_NE(c, nullptr);
    large_page_release(b);
    large_page_release(c);
}

TEST(LargePages, NoReservedPagesNoFallback) {
    const long reserved = test::read_huge_pages();
    std::ifstream free_in("/proc/meminfo");
    const std::string text((std::istreambuf_iterator<char>(free_in)), {});
    if (meminfo_bytes(text, "HugePages_Free").value_or(1) != 0) {
        GTEST_SKIP() << "huge pages are free on this system (" << reserved << " reserved)";
    }
    EXPECT_EQ(large_page_allocate(1), nullptr);
}

} // namespace
} // namespace kestrix
