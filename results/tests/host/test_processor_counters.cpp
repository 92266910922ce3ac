// Windows' per-processor counter instances placed in the processor order, and the clock they give.
#include "processor_counters.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <limits>
#include <string>
#include <vector>

namespace kestrix::results {
namespace {

TEST(ProcessorCounters, InstancesLandAtTheirProcessorsPosition) {
    struct row {
        std::vector<std::uint32_t> groups;
        const wchar_t* instance;
        std::optional<std::size_t> position;
    };
    const std::vector<std::uint32_t> two_groups = {64, 8};
    const row rows[] = {
        {{16}, L"0,0", 0},
        {{16}, L"0,15", 15},
        {{16}, L"0,16", std::nullopt}, // not an active processor
        {two_groups, L"0,63", 63},
        {two_groups, L"1,0", 64},
        {two_groups, L"1,7", 71},
        {two_groups, L"1,8", std::nullopt},
        {two_groups, L"2,0", std::nullopt},
        {{40, 40, 40}, L"2,3", 83},
        {two_groups, L"_Total", std::nullopt},
        {two_groups, L"0,_Total", std::nullopt},
        {two_groups, L"1,_Total", std::nullopt},
        {two_groups, L"3", std::nullopt}, // the older Processor object's naming
        {two_groups, L"", std::nullopt},
        {two_groups, L",", std::nullopt},
        {two_groups, L",3", std::nullopt},
        {two_groups, L"0,", std::nullopt},
        {two_groups, L"0,3,1", std::nullopt},
        {two_groups, L"-0,3", std::nullopt},
        {two_groups, L"0,+3", std::nullopt},
        {two_groups, L" 0,3", std::nullopt},
        {two_groups, L"0,3 ", std::nullopt},
        {two_groups, L"0,0x3", std::nullopt},
        {{std::vector<std::uint32_t>(4, 64)}, L"0,18446744073709551619", std::nullopt},
        {{std::vector<std::uint32_t>(4, 64)}, L"4294967296,0", std::nullopt},
        {{}, L"0,0", std::nullopt},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(processor_position(r.instance, r.groups), r.position)
            << std::string(r.instance, r.instance + std::wcslen(r.instance));
    }
}

TEST(ProcessorCounters, PerformanceTimesNominalIsTheClock) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    struct row {
        double percent, nominal;
        std::optional<double> mhz;
    };
    const row rows[] = {
        {100, 3000, 3000},          {150, 2400, 3600}, // boosting
        {37.5, 3200, 1200},                            // parked low
        {0, 3000, std::nullopt},    {-5, 3000, std::nullopt},
        {100, 0, std::nullopt}, // no nominal clock known
        {100, -2400, std::nullopt}, {5000, 3000, std::nullopt},
        {nan, 3000, std::nullopt},  {inf, 3000, std::nullopt},
        {100, nan, std::nullopt},   {100, inf, std::nullopt},
    };
    for (const auto& r : rows) {
        const auto mhz = effective_mhz(r.percent, r.nominal);
        ASSERT_EQ(mhz.has_value(), r.mhz.has_value()) << r.percent << " % of " << r.nominal;
        if (mhz) {
            EXPECT_NEAR(*mhz, *r.mhz, 1e-9) << r.percent << " % of " << r.nominal;
        }
    }
}

} // namespace
} // namespace kestrix::results
