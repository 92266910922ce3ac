// The Windows backend under a job object's memory limits and a narrowed process affinity. Its
// own test program: a process cannot leave a job once assigned.
#include "platform/os.hpp"
#include "platform/topology.hpp"

#include <gtest/gtest.h>
#include <vector>
#include <windows.h>

namespace kestrix {
namespace {

constexpr std::uint64_t mib = std::uint64_t{1} << 20;

TEST(Win32Limits, AJobsMemoryLimitBoundsTheFreeMemory) {
    ASSERT_GT(os::available_physical_memory(), 0u);
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) {
        GTEST_SKIP() << "no job objects here";
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_JOB_MEMORY;
    limits.ProcessMemoryLimit = 512 * mib;
    limits.JobMemoryLimit = 384 * mib;
    if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ==
            0 ||
        AssignProcessToJobObject(job, GetCurrentProcess()) == 0) {
        CloseHandle(job);
        GTEST_SKIP() << "this system cannot put the process into a limited job";
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION kept{};
    if (QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &kept, sizeof kept,
                                  nullptr) == 0 ||
        kept.JobMemoryLimit != limits.JobMemoryLimit) {
        CloseHandle(job);
        GTEST_SKIP() << "this system keeps no job memory limits (Wine does not)";
    }
    const std::uint64_t available = os::available_physical_memory();
    EXPECT_GT(available, 0u);
    EXPECT_LE(available, 384 * mib); // the tighter of the two limits, less what is in use
    CloseHandle(job);
}

TEST(Win32Limits, ANarrowedAffinityNarrowsTheTopology) {
    DWORD_PTR process_mask = 0, system_mask = 0;
    ASSERT_NE(GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask), 0);
    if ((process_mask & (process_mask - 1)) == 0) {
        GTEST_SKIP() << "only one processor is allowed here: no narrower set to give";
    }
    unsigned last = 0;
    for (unsigned bit = 0; bit < 64; ++bit) {
        if ((process_mask >> bit) & 1) {
            last = bit;
        }
    }
    ASSERT_NE(SetProcessAffinityMask(GetCurrentProcess(), DWORD_PTR{1} << last), 0);
    const cpu_topology t = detect_topology();
    SetProcessAffinityMask(GetCurrentProcess(), process_mask);
    std::vector<std::uint32_t> seen;
    for (const auto& node : t.numa_nodes) {
        for (const auto& cache : node.llcs) {
            for (const auto& c : cache.cores) {
                for (const auto& l : c.logicals) {
                    seen.push_back(l.os);
                }
            }
        }
    }
    EXPECT_EQ(seen, std::vector<std::uint32_t>{last});
}

} // namespace
} // namespace kestrix
