#include "driver/config.hpp"
#include "driver/entry.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {
namespace {

TEST(Entry, OverflowMul) {
    constexpr std::uint64_t max = UINT64_MAX;
    const struct {
        std::uint64_t a, b;
        std::optional<std::uint64_t> product;
    } rows[] = {
        {0, max, 0},
        {max, 0, 0},
        {1, max, max},
        {2, max / 2, max - 1},
        {2, max / 2 + 1, std::nullopt},
        {1ull << 32, (1ull << 32) - 1, max - ((1ull << 32) - 1)},
        {1ull << 32, 1ull << 32, std::nullopt},
        {32, 1ull << 59, std::nullopt},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(overflow_mul(r.a, r.b), r.product) << r.a << " * " << r.b;
    }
}

// The two overflow messages can never fire for a size that passed the edge check.
TEST(Entry, EveryValidEdgePassesBothOverflowChecks) {
    for (const std::uint64_t n : grid_edges) {
        EXPECT_TRUE(overflow_mul((n + 2) * (n + 2) * (n + 2), 32)) << n;
        EXPECT_TRUE(overflow_mul(n, n)) << n;
    }
}

// The decision before any mode runs, in the order of precedence.
TEST(Entry, DecidesTheModeWithoutRunningIt) {
    const struct {
        std::vector<std::string> args;
        program_mode mode;
        int code;
        std::string failure; // start of the message
    } rows[] = {
        {{}, program_mode::benchmark, 0, ""},
        {{"kestrix"}, program_mode::benchmark, 0, ""},
        {{"kestrix", "--size", "7", "--help"}, program_mode::none, 1, "Invalid size '7'"},
        {{"kestrix", "--help", "--size", "7"}, program_mode::help, 0, ""},
        {{"kestrix", "--kestrix", "--size", "7"}, program_mode::animation, 0, ""},
        {{"kestrix", "--size", "7", "--kestrix"}, program_mode::animation, 0, ""},
        {{"kestrix", "--topo-debug", "--timer-debug"}, program_mode::topology, 0, ""},
        {{"kestrix", "--timer-debug"}, program_mode::timer_report, 0, ""},
        {{"kestrix", "--workload", "Standing_wave"}, program_mode::none, 1, "Invalid workload"},
        {{"kestrix", "--isa", "AVX2", "--help"}, program_mode::none, 1, "Invalid isa name 'AVX2'"},
        {{"kestrix", "--bogus"}, program_mode::none, 1, "Unrecognized token: --bogus"},
        {{"kestrix", "-n"}, program_mode::none, 1, "Expected argument following -n"},
        {{"kestrix", "-s", "8192", "-n", "4000000000"}, program_mode::benchmark, 0, ""},
    };
    for (const auto& r : rows) {
        std::vector<const char*> argv;
        for (const auto& a : r.args) {
            argv.push_back(a.c_str());
        }
        command_line cl;
        const entry_decision d = decide_mode(cl, static_cast<int>(argv.size()), argv.data());
        const std::string line = r.args.empty() ? "(no arguments)" : r.args.back();
        EXPECT_EQ(d.mode, r.mode) << line;
        EXPECT_EQ(d.exit_code, r.code) << line;
        EXPECT_EQ(d.failure.value_or("").substr(0, r.failure.size()), r.failure) << line;
        EXPECT_EQ(d.failure.has_value(), !r.failure.empty()) << line;
    }
}

// The benchmark mode's request, resolved once from the options into typed values.
TEST(Entry, ResolvesTheRequestForTheBenchmark) {
    const std::vector<const char*> argv = {"kestrix",
                                           "-n",
                                           "3",
                                           "-d",
                                           "7",
                                           "-s",
                                           "128",
                                           "--isa",
                                           "avx512vl",
                                           "--workload",
                                           "soft_gaussian",
                                           "--threading",
                                           "phte",
                                           "--strict-isa-check",
                                           "--large-pages",
                                           "--bypass-timer-check",
                                           "--harness-var",
                                           "isa",
                                           "--harness-sub-runs",
                                           "2",
                                           "--harness-opt",
                                           "sse2-avx"};
    command_line cl;
    const entry_decision d = decide_mode(cl, static_cast<int>(argv.size()), argv.data());
    ASSERT_EQ(d.mode, program_mode::benchmark);
    const run_request& r = d.request;
    EXPECT_EQ(r.threads, 3U);
    EXPECT_EQ(r.duration, 7U);
    EXPECT_EQ(r.size, 128U);
    EXPECT_EQ(r.isa, isa_kind::avx512vl);
    EXPECT_EQ(r.workload, workload_kind::soft_gaussian);
    EXPECT_EQ(r.placement, placement_policy::phte);
    EXPECT_TRUE(r.strict_isa_check && r.large_pages && r.bypass_timer_check);
    ASSERT_TRUE(d.harness.has_value());
    EXPECT_EQ(d.harness->variable, sweep_variable::isa);
    EXPECT_EQ(d.harness->sub_runs, 2U);
    EXPECT_EQ(d.harness->option, "sse2-avx");

    command_line defaults;
    const char* bare[] = {"kestrix"};
    const entry_decision e = decide_mode(defaults, 1, bare);
    EXPECT_EQ(e.request.isa, isa_kind::sse2);
    EXPECT_EQ(e.request.workload, workload_kind::standing_wave);
    EXPECT_EQ(e.request.placement, placement_policy::os);
    EXPECT_EQ(e.request.duration, 30U);
    EXPECT_EQ(e.request.size, 192U);
    ASSERT_TRUE(e.harness.has_value());
    EXPECT_EQ(e.harness->variable, sweep_variable::none);
    EXPECT_EQ(e.harness->sub_runs, 3U);
}

} // namespace
} // namespace kestrix
