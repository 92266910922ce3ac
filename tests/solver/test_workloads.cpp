// Both workloads through the real solver of every instruction-set name: the values the
// workloads must print, their checks, and their failure texts.
#include "solver_test_support.hpp"

#include <fmt/format.h>

#include <cmath>
#include <memory>
#include <vector>

namespace kestrix::test {
namespace {

class every_variant : public ::testing::TestWithParam<std::string_view> {
protected:
    void SetUp() override { KX_SKIP_UNLESS_RUNNABLE(GetParam()); }

    std::unique_ptr<solver> ready(std::string_view workload, std::uint64_t n = 64,
                                  std::uint32_t thread = 0) {
        std::unique_ptr<solver> s = make_named_solver(workload, GetParam(), thread);
        EXPECT_TRUE(s);
        if (s) {
            EXPECT_EQ(s->allocate_fields({false, n, 0.01}), std::nullopt);
            EXPECT_EQ(s->init_fields(), std::nullopt);
        }
        return s;
    }
};

std::string isa_label(const ::testing::TestParamInfo<std::string_view>& info) {
    std::string name(info.param);
    for (char& c : name) {
        c = c == '-' ? '_' : c;
    }
    return name;
}

std::string printed(double v) {
    return fmt::format("{:f}", v);
}

TEST_P(every_variant, standing_wave_stays_bit_for_bit_unchanged) {
    std::unique_ptr<solver> s = ready("standing_wave");
    ASSERT_TRUE(s);
    solver_view v = view_solver(*s);
    ASSERT_TRUE(v.is_standing_wave);
    EXPECT_EQ(printed(v.energy_init), "0.128956");
    EXPECT_EQ(v.node_count, 8u);

    field_grid& g = *v.grid;
    const field_cell first = cell(g.e, 1, 1, 1);
    const double wave = std::sin(2.0 * 3.141592653589793 / 65.0);
    EXPECT_EQ(first.x, wave);
    EXPECT_EQ(first.y, wave);
    EXPECT_EQ(first.z, 0.0);

    const std::vector<field_cell> e0(g.e.cells, g.e.cells + g.e.count);
    for (std::uint64_t n = 0; n < 20; ++n) {
        ASSERT_EQ(s->pre_step(n), std::nullopt);
        ASSERT_EQ(s->step(), std::nullopt);
        ASSERT_EQ(s->post_step(n), std::nullopt) << "step " << n;
    }
    EXPECT_EQ(s->validate(20), std::nullopt);
    EXPECT_EQ(std::memcmp(e0.data(), g.e.cells, g.e.count * sizeof(field_cell)), 0);
    for (std::uint64_t i = 0; i < g.h.count; ++i) {
        const field_cell& h = g.h.cells[i];
        ASSERT_TRUE(h.x == 0.0 && h.y == 0.0 && h.z == 0.0 && h.w == 0.0) << "H cell " << i;
    }
    const family_entry& code = family_code(family_of(*parse_isa_name(GetParam())));
    EXPECT_EQ(v.energy_init / code.total_energy(g), 1.0);
    EXPECT_EQ(code.node_energy(g, 33, 17, 33),
              family_code(kernel_family::scalar_sse2).node_energy(g, 33, 17, 33));
}

// The soft-Gaussian ratio of a solver after its last step.
double ratio_of(solver& s) {
    const solver_view v = view_solver(s);
    return v.energy_acc / scalar_sse2::total_energy(*v.grid);
}

// The scalar reference ratio after 300 steps, computed once for all variants.
double reference_ratio_after_300() {
    static const double ratio = [] {
        std::unique_ptr<solver> s = make_solver(workload_kind::soft_gaussian, isa_kind::sse2, 0);
        if (s->allocate_fields({false, 64, 0.01}) || s->init_fields()) {
            return -1.0;
        }
        for (std::uint64_t n = 0; n < 300; ++n) {
            if (s->pre_step(n) || s->step()) {
                return -1.0;
            }
        }
        return ratio_of(*s);
    }();
    return ratio;
}

TEST_P(every_variant, soft_gaussian_follows_the_ratio_table) {
    std::unique_ptr<solver> s = ready("soft_gaussian");
    ASSERT_TRUE(s);
    const char* const first_ratios[] = {"1.333333", "1.333333", "1.346955", "1.367138"};
    for (std::uint64_t n = 0; n < 300; ++n) {
        ASSERT_EQ(s->pre_step(n), std::nullopt);
        ASSERT_EQ(s->step(), std::nullopt);
        ASSERT_EQ(s->post_step(n), std::nullopt) << "step " << n;
        if (n < 4) {
            EXPECT_EQ(printed(ratio_of(*s)), first_ratios[n]) << "step " << n;
        }
    }
    EXPECT_NEAR(ratio_of(*s), reference_ratio_after_300(), 1e-4);
    EXPECT_EQ(s->validate(300), std::nullopt);
}

// Scaling every field value by k scales the grid energy by k^2: that sets the ratio the next
// check sees, so each row's reach can be probed from both sides of its threshold.
TEST_P(every_variant, ratio_rows_apply_from_the_step_after_their_threshold) {
    struct row {
        std::uint64_t passes_at;
        std::uint64_t fails_at;
        double ratio;
    };
    const row rows[] = {
        {1, 2, 1.41},        // 1.33333 +- 0.1, then 1.33333 +- 0.05
        {36, 37, 1.544},     // 1.5195 +- 0.025, then 1.51892 +- 0.025
        {116, 117, 1.5293},  // 1.51955 +- 0.01, then 1.51904 +- 0.01
        {117, 0, 1.51904},   // row 1 holds for every later step
        {100000, 0, 1.5250}, // inside row 1's tolerance, however late
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.passes_at);
        std::unique_ptr<solver> s = ready("soft_gaussian");
        ASSERT_TRUE(s);
        ASSERT_EQ(s->pre_step(0), std::nullopt);
        ASSERT_EQ(s->step(), std::nullopt);
        const solver_view v = view_solver(*s);
        const double k = std::sqrt(v.energy_acc / (r.ratio * scalar_sse2::total_energy(*v.grid)));
        for (field_array* a : {&v.grid->e, &v.grid->h}) {
            for (std::uint64_t i = 0; i < a->count; ++i) {
                a->cells[i].x *= k;
                a->cells[i].y *= k;
                a->cells[i].z *= k;
            }
        }
        EXPECT_EQ(s->post_step(r.passes_at), std::nullopt);
        if (r.fails_at != 0) {
            const error_text failed = s->post_step(r.fails_at);
            ASSERT_TRUE(failed);
            EXPECT_EQ(failed->rfind("\nenergy ratio failure in thread 0\nenergy_acc = ", 0), 0u);
            EXPECT_NE(failed->find(fmt::format("\nratio = {:f}", r.ratio)), std::string::npos)
                << *failed;
        }
    }
}

TEST_P(every_variant, soft_gaussian_source_at_step_zero) {
    std::unique_ptr<solver> s = ready("soft_gaussian");
    ASSERT_TRUE(s);
    ASSERT_EQ(s->pre_step(0), std::nullopt);
    const solver_view v = view_solver(*s);
    EXPECT_EQ(v.e_gain, 0.005);
    EXPECT_EQ(v.h_gain, 0.005);
    const double want = 0.0 - (std::exp(-8.0) * 200.0) * 0.005;
    EXPECT_EQ(cell(v.grid->e, 33, 33, 33).z, want);
    EXPECT_EQ(cell(v.grid->h, 33, 33, 33).y, want);
    EXPECT_GT(v.energy_acc, 0.0);
}

TEST_P(every_variant, failure_texts_are_exact) {
    // A check node whose field changed by more than one part in 100000.
    std::unique_ptr<solver> wave = ready("standing_wave", 64, 3);
    ASSERT_TRUE(wave);
    solver_view v = view_solver(*wave);
    const family_entry& code = family_code(family_of(*parse_isa_name(GetParam())));
    const double first = code.node_energy(*v.grid, 17, 17, 17);
    const double before = code.node_energy(*v.grid, 17, 33, 17);
    cell(v.grid->e, 17, 33, 17).x *= 1.001;
    const double after = code.node_energy(*v.grid, 17, 33, 17);
    EXPECT_EQ(wave->post_step(0),
              fmt::format("\nnode verification failure in thread 3\ninit_val = {:f}\ncalc_val = "
                          "{:f}\nratio = {:f}",
                          before, after, std::fabs(before / after - 1.0)));

    // A grid whose total energy is 0.
    std::memset(static_cast<void*>(v.grid->e.cells), 0, v.grid->e.count * sizeof(field_cell));
    EXPECT_EQ(wave->validate(1), "\nenergy ratio failure in thread 3\nenergy_init = "
                                 "0.128956\nenergy_calc = 0.000000\nratio = inf");
    EXPECT_EQ(wave->post_step(1),
              fmt::format("\nnode verification failure in thread 3\ninit_val = {:f}\ncalc_val = "
                          "0.000000\nratio = inf",
                          first));

    // A ratio check before any injection sees 0 / 0.
    std::unique_ptr<solver> pulse = ready("soft_gaussian", 64, 12);
    ASSERT_TRUE(pulse);
    EXPECT_EQ(pulse->post_step(0), "\nenergy ratio failure in thread 12\nenergy_acc = "
                                   "0.000000\nenergy_calc = 0.000000\nratio = -nan");
}

TEST_P(every_variant, step_and_initialisation_fail_on_degenerate_edges) {
    for (std::string_view workload : {"standing_wave", "soft_gaussian"}) {
        SCOPED_TRACE(workload);
        std::unique_ptr<solver> s = make_named_solver(workload, GetParam(), 7);
        ASSERT_TRUE(s);
        ASSERT_EQ(s->allocate_fields({false, 0, 0.01}), std::nullopt);
        EXPECT_EQ(s->updates_per_step(), 0u);
        EXPECT_EQ(s->step(), "solver H step error in thread 7");
        if (workload == "standing_wave") {
            EXPECT_EQ(s->init_fields(), "failed to initalize H field");
            ASSERT_EQ(s->allocate_fields({false, 40, 0.01}), std::nullopt);
            EXPECT_EQ(s->init_fields(), "allocation failed for validation buffer");
        }
    }
}

TEST_P(every_variant, updates_per_step_counts_two_n_cubed) {
    for (std::string_view workload : {"standing_wave", "soft_gaussian"}) {
        std::unique_ptr<solver> s = make_named_solver(workload, GetParam(), 0);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->updates_per_step(), 0u) << "before allocation";
        ASSERT_EQ(s->allocate_fields({false, 64, 0.01}), std::nullopt);
        EXPECT_EQ(s->updates_per_step(), 524288u);
        ASSERT_EQ(s->allocate_fields({false, 5, 0.01}), std::nullopt);
        EXPECT_EQ(s->updates_per_step(), 250u);
    }
}

INSTANTIATE_TEST_SUITE_P(all, every_variant, ::testing::ValuesIn(isa_names), isa_label);

} // namespace
} // namespace kestrix::test
