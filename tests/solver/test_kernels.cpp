// The E and H kernels of every family against an index-based reference written from the
// update formulas, plus the loop-result rule and the special fields.
#include "solver_test_support.hpp"

#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <random>
#include <vector>

namespace kestrix::test {
namespace {

class family_kernels : public ::testing::TestWithParam<kernel_family> {
protected:
    void SetUp() override { KX_SKIP_UNLESS_RUNNABLE(family_isa(GetParam())); }
    const family_entry& code() const { return family_code(GetParam()); }
};

std::string family_name(const ::testing::TestParamInfo<kernel_family>& info) {
    return std::string(family_code(info.param).name);
}

void fill_random(field_array& a, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (std::uint64_t i = 0; i < a.count; ++i) {
        a.cells[i] = {value(rng), value(rng), value(rng), 0.0};
    }
}

std::vector<field_cell> copy_of(const field_array& a) {
    return std::vector<field_cell>(a.cells, a.cells + a.count);
}

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// a * b + c with one rounding, from the processor: some runtimes' std::fma (mingw-w64) round
// twice. Only called where a fused family runs, so the processor has FMA.
__attribute__((target("fma"))) double fused_multiply_add(double a, double b, double c) {
    return _mm_cvtsd_f64(_mm_fmadd_sd(_mm_set_sd(a), _mm_set_sd(b), _mm_set_sd(c)));
}

// H - curl * c rounded twice, or once for the fused families.
double h_update(double h, double curl, double c, bool fused) {
    return fused ? fused_multiply_add(-curl, c, h) : h - curl * c;
}
double e_update(double e, double curl, double c, bool fused) {
    return fused ? fused_multiply_add(curl, c, e) : e + curl * c;
}

// The H half-step written cell by cell from its formulas.
std::vector<field_cell> reference_h(field_grid& g, bool fused) {
    std::vector<field_cell> h = copy_of(g.h);
    const std::uint64_t n = g.e.edge - 2;
    const std::uint64_t d = g.e.edge;
    auto at = [&](std::uint64_t x, std::uint64_t y, std::uint64_t z) -> field_cell& {
        return g.e.cells[(x * d + y) * d + z];
    };
    for (std::uint64_t x = 1; x + 1 <= n; ++x) {
        for (std::uint64_t y = 1; y + 1 <= n; ++y) {
            for (std::uint64_t z = 1; z + 1 <= n; ++z) {
                field_cell& o = h[(x * d + y) * d + z];
                const field_cell& e = at(x, y, z);
                const double cx = (at(x, y + 1, z).z - e.z) - (at(x, y, z + 1).y - e.y);
                const double cy = (at(x, y, z + 1).x - e.x) - (at(x + 1, y, z).z - e.z);
                const double cz = (at(x + 1, y, z).y - e.y) - (at(x, y + 1, z).x - e.x);
                o.x = h_update(o.x, cx, g.ch, fused);
                o.y = h_update(o.y, cy, g.ch, fused);
                o.z = h_update(o.z, cz, g.ch, fused);
            }
        }
    }
    return h;
}

std::vector<field_cell> reference_e(field_grid& g, bool fused) {
    std::vector<field_cell> e = copy_of(g.e);
    const std::uint64_t n = g.e.edge - 2;
    const std::uint64_t d = g.e.edge;
    auto at = [&](std::uint64_t x, std::uint64_t y, std::uint64_t z) -> field_cell& {
        return g.h.cells[(x * d + y) * d + z];
    };
    for (std::uint64_t x = 2; x <= n; ++x) {
        for (std::uint64_t y = 2; y <= n; ++y) {
            for (std::uint64_t z = 2; z <= n; ++z) {
                field_cell& o = e[(x * d + y) * d + z];
                const field_cell& h = at(x, y, z);
                const double cx = (h.z - at(x, y - 1, z).z) - (h.y - at(x, y, z - 1).y);
                const double cy = (h.x - at(x, y, z - 1).x) - (h.z - at(x - 1, y, z).z);
                const double cz = (h.y - at(x - 1, y, z).y) - (h.x - at(x, y - 1, z).x);
                o.x = e_update(o.x, cx, g.ce, fused);
                o.y = e_update(o.y, cy, g.ce, fused);
                o.z = e_update(o.z, cz, g.ce, fused);
            }
        }
    }
    return e;
}

::testing::AssertionResult cells_equal(const std::vector<field_cell>& want,
                                       const field_array& got) {
    for (std::uint64_t i = 0; i < got.count; ++i) {
        const field_cell& a = want[i];
        const field_cell& b = got.cells[i];
        if (!same_bits(a.x, b.x) || !same_bits(a.y, b.y) || !same_bits(a.z, b.z) ||
            !same_bits(a.w, b.w)) {
            return ::testing::AssertionFailure()
                   << "cell " << i << " (edge " << got.edge << "): want (" << a.x << ", " << a.y
                   << ", " << a.z << ", " << a.w << ") got (" << b.x << ", " << b.y << ", " << b.z
                   << ", " << b.w << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

std::size_t differing_values(const std::vector<field_cell>& a, const std::vector<field_cell>& b) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        count +=
            !same_bits(a[i].x, b[i].x) + !same_bits(a[i].y, b[i].y) + !same_bits(a[i].z, b[i].z);
    }
    return count;
}

// Exact bounds, differences, grouping and rounding, from a random state, for edges that
// exercise the first and last cell of every row. The step's own coefficient 0.5 makes every
// product exact; with 0.3 the products round, so a fused family that rounds twice (or a scalar
// one that fuses) differs from its reference.
TEST_P(family_kernels, match_the_reference_bit_for_bit) {
    const bool fused = is_fused(GetParam());
    for (const double coefficient : {0.5, 0.3}) {
        for (std::uint64_t n : {2u, 3u, 5u, 9u, 15u}) {
            SCOPED_TRACE(::testing::Message() << "edge " << n << ", coefficient " << coefficient);
            field_grid g = build_field_grid({false, n, 0.01});
            g.ch = coefficient;
            g.ce = coefficient;
            fill_random(g.e, 1 + n);
            fill_random(g.h, 100 + n);
            if (fused && coefficient == 0.3 && n == 15) {
                // The test tells the two roundings apart.
                EXPECT_GT(differing_values(reference_h(g, true), reference_h(g, false)), 100u);
            }

            const std::vector<field_cell> e_before = copy_of(g.e);
            const std::vector<field_cell> want_h = reference_h(g, fused);
            ASSERT_TRUE(code().update_h(g));
            EXPECT_TRUE(cells_equal(want_h, g.h));
            EXPECT_TRUE(cells_equal(e_before, g.e)) << "update_h wrote E";

            const std::vector<field_cell> h_before = copy_of(g.h);
            const std::vector<field_cell> want_e = reference_e(g, fused);
            ASSERT_TRUE(code().update_e(g));
            EXPECT_TRUE(cells_equal(want_e, g.e));
            EXPECT_TRUE(cells_equal(h_before, g.h)) << "update_e wrote H";
        }
    }
}

TEST_P(family_kernels, zero_fields_stay_exactly_zero) {
    field_grid g = build_field_grid({false, 12, 0.01});
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(code().update_h(g));
        ASSERT_TRUE(code().update_e(g));
    }
    const std::vector<field_cell> zero(g.e.count, field_cell{0.0, 0.0, 0.0, 0.0});
    EXPECT_TRUE(cells_equal(zero, g.e));
    EXPECT_TRUE(cells_equal(zero, g.h));
}

TEST_P(family_kernels, lane_w_stays_positive_zero) {
    field_grid g = build_field_grid({false, 10, 0.01});
    fill_random(g.e, 7);
    fill_random(g.h, 8);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(code().update_h(g));
        ASSERT_TRUE(code().update_e(g));
    }
    for (const field_array* a : {&g.e, &g.h}) {
        for (std::uint64_t i = 0; i < a->count; ++i) {
            ASSERT_TRUE(same_bits(a->cells[i].w, 0.0)) << "cell " << i;
        }
    }
}

TEST_P(family_kernels, single_impulse_changes_exactly_four_h_values) {
    constexpr std::uint64_t c = 5;
    constexpr double v = 0.75;
    field_grid g = build_field_grid({false, 10, 0.01});
    cell(g.e, c, c, c).z = v;
    ASSERT_TRUE(code().update_h(g));

    std::vector<field_cell> want(g.h.count, field_cell{0.0, 0.0, 0.0, 0.0});
    const std::uint64_t d = g.h.edge;
    auto at = [&](std::uint64_t x, std::uint64_t y, std::uint64_t z) -> field_cell& {
        return want[(x * d + y) * d + z];
    };
    at(c, c, c).x = 0.5 * v;
    at(c, c - 1, c).x = -0.5 * v;
    at(c, c, c).y = -0.5 * v;
    at(c - 1, c, c).y = 0.5 * v;
    EXPECT_TRUE(cells_equal(want, g.h));
}

TEST_P(family_kernels, loop_result_for_degenerate_edges) {
    struct row {
        std::uint64_t n;
        bool h_result;
        bool e_result;
    };
    for (const row& r : {row{0, false, false}, row{1, true, true}, row{2, true, true}}) {
        SCOPED_TRACE(r.n);
        field_grid g = build_field_grid({false, r.n, 0.01});
        fill_random(g.e, 3);
        fill_random(g.h, 4);
        const std::vector<field_cell> e_before = copy_of(g.e);
        const std::vector<field_cell> h_before = copy_of(g.h);
        EXPECT_EQ(code().update_h(g), r.h_result);
        EXPECT_EQ(code().update_e(g), r.e_result);
        if (r.n < 2) {
            EXPECT_TRUE(cells_equal(e_before, g.e));
            EXPECT_TRUE(cells_equal(h_before, g.h));
        }
    }
}

TEST_P(family_kernels, refuse_a_grid_without_cells) {
    field_grid g;
    EXPECT_FALSE(code().update_h(g));
    EXPECT_FALSE(code().update_e(g));
    EXPECT_EQ(code().total_energy(g), 0.0);
}

// A fused and a scalar step from the same random state stay within a few units in the
// last place of each other.
TEST_P(family_kernels, one_step_agrees_with_the_scalar_reference_to_a_few_ulps) {
    field_grid mine = build_field_grid({false, 16, 0.01});
    field_grid ref = build_field_grid({false, 16, 0.01});
    fill_random(mine.e, 11);
    fill_random(mine.h, 12);
    std::memcpy(ref.e.cells, mine.e.cells, mine.e.count * sizeof(field_cell));
    std::memcpy(ref.h.cells, mine.h.cells, mine.h.count * sizeof(field_cell));
    ASSERT_TRUE(code().update_h(mine) && code().update_e(mine));
    const family_entry& scalar = family_code(kernel_family::scalar_sse2);
    ASSERT_TRUE(scalar.update_h(ref) && scalar.update_e(ref));
    for (std::uint64_t i = 0; i < mine.e.count; ++i) {
        for (auto lane : {&field_cell::x, &field_cell::y, &field_cell::z}) {
            for (const auto* pair : {&mine.e, &mine.h}) {
                const field_array& other = pair == &mine.e ? ref.e : ref.h;
                const double a = pair->cells[i].*lane;
                const double b = other.cells[i].*lane;
                const double ulp = std::fabs(std::nextafter(b, 2.0 * b + 1.0) - b);
                ASSERT_LE(std::fabs(a - b), 4.0 * ulp) << "cell " << i;
            }
        }
    }
}

#if defined(KX_TEST_APX_TWIN)
TEST(fma_apx_twin, runs_the_kernels_built_without_apx) {
    EXPECT_FALSE(fma256_apx::apx_code());
}
#endif

INSTANTIATE_TEST_SUITE_P(all, family_kernels, ::testing::ValuesIn(every_family()), family_name);

} // namespace
} // namespace kestrix::test
