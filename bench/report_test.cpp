#include "report_stats.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kb = kestrix::bench;

namespace {

TEST(ReportStats, MedianAndSpread) {
    struct row {
        std::vector<double> values;
        double median;
        double spread;
    };
    const row rows[] = {
        {{}, 0.0, 0.0},
        {{7.0}, 7.0, 0.0},
        {{3.0, 1.0, 2.0}, 2.0, 1.0},            // unsorted input, odd count
        {{4.0, 1.0, 3.0, 2.0}, 2.5, 3.0 / 2.5}, // even count: mean of the middle two
        {{100.0, 1.0, 100.0}, 100.0, 0.99},     // one outlier does not move the median
        {{0.0, 0.0}, 0.0, 0.0},                 // zero median: no spread instead of a NaN
    };
    for (const auto& r : rows) {
        EXPECT_DOUBLE_EQ(kb::median(r.values), r.median);
        EXPECT_DOUBLE_EQ(kb::relative_spread(r.values), r.spread);
    }
}

TEST(ReportStats, MedianRatioPairsByRepetition) {
    const double inf = std::numeric_limits<double>::infinity();
    struct row {
        std::vector<double> a;
        std::vector<double> b;
        double expected;
    };
    const row rows[] = {
        // A machine that slows down: the pairwise ratio stays 0.5, the ratio of medians
        // (2/3) would not.
        {{1.0, 2.0, 4.0}, {2.0, 4.0, 8.0}, 0.5},
        {{1.0, 2.0, 4.0}, {2.0, 0.0, 8.0}, 0.5}, // zero divisor skipped
        {{1.0, 2.0}, {2.0, inf}, 0.5},           // infinite divisor skipped
        {{1.0, 9.0, 9.0}, {2.0}, 0.5},           // unequal lengths: only the pairs
        {{}, {}, 0.0},
    };
    for (const auto& r : rows) {
        EXPECT_DOUBLE_EQ(kb::median_ratio(r.a, r.b), r.expected);
    }
}

TEST(ReportStats, CountLists) {
    struct row {
        const char* text;
        std::optional<std::vector<std::uint64_t>> expected;
    };
    using v = std::vector<std::uint64_t>;
    const row rows[] = {
        {"64,128,192", v{64, 128, 192}},
        {"1,all", v{1, 2}},
        {"all", v{2}},
        {"1,all,2", std::nullopt}, // "all" is 2 here: a repeat
        {"", std::nullopt},
        {"64,", std::nullopt},
        {",64", std::nullopt},
        {"0", std::nullopt},
        {"-1", std::nullopt},
        {"64x", std::nullopt},
        {"99999999999999999999", std::nullopt}, // overflow
    };
    for (const auto& r : rows) {
        EXPECT_EQ(kb::parse_count_list(r.text, 2), r.expected) << r.text;
    }
}

TEST(ReportStats, StepsForMinimumTime) {
    struct row {
        double min_seconds;
        double step_seconds;
        std::uint64_t expected;
    };
    const row rows[] = {
        {0.3, 0.1, 3}, {0.3, 0.11, 3},    {0.3, 0.5, 1},     {0.3, 0.0, 1},    {0.3, -1.0, 1},
        {0.3, NAN, 1}, {0.3, 1e-12, 100}, {0.3, 0.002, 100}, {0.3, 0.004, 75},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(kb::steps_for(r.min_seconds, r.step_seconds, 100), r.expected)
            << r.min_seconds << " " << r.step_seconds;
    }
}

} // namespace
