#include "crew.hpp"
#include "report_lib.hpp"
#include "report_stats.hpp"
#include "solver/field.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

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

TEST(ReportOptions, ParseTable) {
    using sv = std::string_view;
    struct row {
        std::vector<sv> args;
        std::uint64_t cores;
        bool valid;
        std::vector<std::uint64_t> threads; // when valid
    };
    const std::vector<row> rows = {
        {{}, 2, true, {1, 2}},
        {{}, 1, true, {1}}, // one core: no second thread count
        {{"--threads", "all"}, 4, true, {4}},
        {{"--threads", "1,all"}, 1, false, {}}, // "all" is 1 here: a repeat
        {{"--reps"}, 2, false, {}},             // value missing
        {{"--reps", "0"}, 2, false, {}},
        {{"--reps", "3,4"}, 2, false, {}},
        {{"--min-time", "0"}, 2, false, {}},
        {{"--min-time", "abc"}, 2, false, {}},
        {{"--min-time", "0.5s"}, 2, false, {}},
        {{"--min-time", "0.5"}, 2, true, {1, 2}},
        {{"--isa", "sse2,SSE2"}, 2, false, {}},
        {{"--isa", ""}, 2, false, {}},
        {{"--isa", "fma-apx,avx10-2-512"}, 2, true, {1, 2}},
        {{"--sizes", "8"}, 2, false, {}},
        {{"--sizes", "64,2048"}, 2, false, {}},
        {{"--large-size", "4096"}, 2, false, {}},
        {{"--sections", "main,bogus"}, 2, false, {}},
        {{"--sections", "large"}, 2, true, {1, 2}},
        {{"--pin", "--reserve-huge-pages"}, 2, true, {1, 2}},
        {{"--bogus", "1"}, 2, false, {}},
    };
    for (const auto& r : rows) {
        std::string text;
        for (sv a : r.args) {
            text += std::string(a) + " ";
        }
        const auto o = kb::parse_options(r.args, r.cores);
        ASSERT_EQ(o.has_value(), r.valid) << text;
        if (o) {
            EXPECT_EQ(o->threads, r.threads) << text;
        }
    }
    const auto d = kb::parse_options({}, 2);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->isas.size(), 9U);
    EXPECT_EQ(d->sizes, (std::vector<std::uint64_t>{24, 64, 128, 192}));
    EXPECT_FALSE(d->pin);
    const auto f = kb::parse_options({"--pin", "--reserve-huge-pages", "--min-time", "0.5"}, 2);
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->pin);
    EXPECT_TRUE(f->reserve);
    EXPECT_DOUBLE_EQ(f->min_time, 0.5);
}

TEST(ReportOptions, FamiliesAndLabels) {
    struct row {
        std::vector<std::string> isas;
        std::vector<std::string> families;
        std::vector<std::string> labels;
    };
    const row rows[] = {
        {{"sse2", "avx", "avx2", "fma", "fma-apx", "avx512f", "avx512vl", "avx10-2-256",
          "avx10-2-512"},
         {"sse2", "avx", "fma", "fma-apx", "avx512f", "avx512vl"},
         {"sse2", "avx, avx2", "fma", "fma-apx", "avx512f, avx10-2-512", "avx512vl, avx10-2-256"}},
        // The first chosen name stands for its family, and only chosen names are listed.
        {{"avx10-2-512", "avx2", "avx512f"},
         {"avx10-2-512", "avx2"},
         {"avx10-2-512, avx512f", "avx2"}},
        {{"fma"}, {"fma"}, {"fma"}},
    };
    for (const auto& r : rows) {
        kb::options o;
        o.isas = r.isas;
        EXPECT_EQ(kb::one_per_family(r.isas), r.families);
        std::vector<std::string> labels;
        for (const auto& f : kb::one_per_family(r.isas)) {
            labels.push_back(kb::family_label(o, f));
        }
        EXPECT_EQ(labels, r.labels);
    }
}

TEST(ReportProbes, BandwidthProbeUpdatesInPlace) {
    std::vector<double> x{1.0, -2.0, 0.5, 4.0};
    std::vector<double> y{10.0, 10.0, 10.0, 10.0};
    kb::probe_pass(y.data(), x.data(), 0.5, 3); // the fourth element is past n
    EXPECT_EQ(y, (std::vector<double>{10.5, 9.0, 10.25, 10.0}));
}

// The report steps every variant on one grid after the stencil probe: the probe must leave
// every value as it found it, frame included.
TEST(ReportProbes, StencilProbeLeavesFieldsUnchanged) {
    for (std::uint64_t n : {2, 3, 16}) {
        kestrix::field_grid g = kestrix::build_field_grid({false, n, 0.01});
        ASSERT_NE(g.e.cells, nullptr);
        std::uint64_t state = 12345;
        auto next = [&] {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
        };
        for (std::uint64_t i = 0; i < g.e.count; ++i) {
            g.e.cells[i] = {next(), next(), next(), next()};
            g.h.cells[i] = {next(), next(), next(), next()};
        }
        const std::vector<kestrix::field_cell> e0(g.e.cells, g.e.cells + g.e.count);
        const std::vector<kestrix::field_cell> h0(g.h.cells, g.h.cells + g.h.count);
        for (std::uint64_t ahead : {0, 64, 2048}) { // plain and prefetching
            kb::stencil_step(g, ahead);
            EXPECT_EQ(std::memcmp(e0.data(), g.e.cells, g.e.count * sizeof(kestrix::field_cell)), 0)
                << n << " " << ahead;
            EXPECT_EQ(std::memcmp(h0.data(), g.h.cells, g.h.count * sizeof(kestrix::field_cell)), 0)
                << n << " " << ahead;
        }
    }
}

// The probes stand for the energy pass's memory traffic: both arrays over the pass's bounds,
// and for the pattern probe H again one plane and one row below; plain or prefetching. Small
// integers keep every sum exact in any order.
TEST(ReportProbes, ProbesReadTheEnergyPassCells) {
    for (std::uint64_t n : {2, 3, 16}) {
        kestrix::field_grid g = kestrix::build_field_grid({false, n, 0.01});
        ASSERT_NE(g.e.cells, nullptr);
        for (std::uint64_t i = 0; i < g.e.count; ++i) {
            const auto v = static_cast<double>(i % 7);
            g.e.cells[i] = {v, v + 1, v + 2, v + 3};
            g.h.cells[i] = {-v, 2 * v, 1.0, static_cast<double>(i % 5)};
        }
        const std::uint64_t d = g.e.edge;
        const auto lanes = [](const kestrix::field_cell& c) { return c.x + c.y + c.z + c.w; };
        double read = 0.0;
        double pattern = 0.0;
        for (std::uint64_t x = 2; x <= d - 2; ++x) {
            for (std::uint64_t y = 2; y <= d - 2; ++y) {
                for (std::uint64_t z = 2; z <= d - 2; ++z) {
                    const std::uint64_t i = (x * d + y) * d + z;
                    const double both = lanes(g.e.cells[i]) + lanes(g.h.cells[i]);
                    read += both;
                    pattern += both + lanes(g.h.cells[i - d * d]) + lanes(g.h.cells[i - d]);
                }
            }
        }
        for (std::uint64_t ahead : {0, 2048}) {
            EXPECT_EQ(kb::read_probe(g, ahead), read) << n << " " << ahead;
            EXPECT_EQ(kb::pattern_probe(g, ahead), pattern) << n << " " << ahead;
        }
    }
}

} // namespace

// The crew pins through the program's own phte list, cycling it when threads outnumber it.
TEST(bench_crew, pin_list_cycles_the_phte_placement) {
    const std::vector<kestrix::logical> phte =
        kestrix::build_placement(kestrix::placement_policy::phte, kestrix::detect_topology());
    ASSERT_FALSE(phte.empty());
    const std::size_t count = 2 * phte.size() + 1;
    const kestrix::threading_manager m = kestrix::bench::pin_list(count);
    ASSERT_EQ(m.placement.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(m.placement[i].group, phte[i % phte.size()].group) << i;
        EXPECT_EQ(m.placement[i].os, phte[i % phte.size()].os) << i;
    }
}
