#include "driver/config.hpp"
#include "driver/entry.hpp"

#include <gtest/gtest.h>

#include <cstdint>

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

} // namespace
} // namespace kestrix
