#include "platform/memory.hpp"
#include "platform/placement.hpp"
#include "platform/timer.hpp"
#include "platform/topology.hpp"

#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

namespace kestrix {
namespace {

TEST(Win32Backend, TopologyCoversActiveProcessors) {
    const cpu_topology t = detect_topology();
    ASSERT_FALSE(t.numa_nodes.empty());
    std::uint32_t logicals = 0;
    for (const auto& node : t.numa_nodes) {
        for (const auto& cache : node.llcs) {
            for (const auto& c : cache.cores) {
                logicals += static_cast<std::uint32_t>(c.logicals.size());
            }
        }
    }
    EXPECT_EQ(logicals, GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
}

TEST(Win32Backend, TimersAndMemory) {
    const fast_timer fast = probe_fast_timer();
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    EXPECT_EQ(fast.report_frequency, f.QuadPart);
    EXPECT_GT(probe_coarse_timer().underlying_frequency, 0);
    EXPECT_GT(available_physical_memory(), 0u);
    EXPECT_EQ(large_page_minimum(), GetLargePageMinimum());
}

TEST(Win32Backend, PinsTheCallingThread) {
    threading_manager m;
    logical l;
    l.os = 0;
    l.group = 0;
    m.placement.push_back(l);
    std::thread([&] {
        apply_placement(m, 0);
        GROUP_AFFINITY now{};
        ASSERT_NE(GetThreadGroupAffinity(GetCurrentThread(), &now), 0);
        EXPECT_EQ(now.Group, 0);
        EXPECT_EQ(now.Mask, KAFFINITY{1});
    }).join();
}

} // namespace
} // namespace kestrix
