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

} // namespace
} // namespace kestrix
