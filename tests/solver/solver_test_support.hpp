#pragma once
// Shared helpers of the solver tests: which families and variants this processor can run,
// and direct access to cells.
#include "solver/family_table.hpp"
#include "solver/field.hpp"
#include "solver/solver.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrix::test {

// One instruction set that selects each family, in kernel_family order.
inline constexpr std::array<std::string_view, 6> family_isa = {"sse2",    "avx",     "fma",
                                                               "fma-apx", "avx512f", "avx512vl"};

inline bool is_fused(kernel_family f) {
    return f != kernel_family::scalar_sse2 && f != kernel_family::scalar_avx;
}

inline field_cell& cell(field_array& a, std::uint64_t x, std::uint64_t y, std::uint64_t z) {
    return a.cells[(x * a.edge + y) * a.edge + z];
}

// Skips the calling test when this processor cannot execute the variant's code.
#define KX_SKIP_UNLESS_RUNNABLE(isa)                                                               \
    do {                                                                                           \
        if (auto reason_ = ::kestrix::check_variant_runnable(isa)) {                               \
            GTEST_SKIP() << *reason_;                                                              \
        }                                                                                          \
    } while (false)

} // namespace kestrix::test
