// The factory table, class identity, field storage and the variant run check.
#include "platform/cpu.hpp"
#include "solver/family_table.hpp"
#include "solver_test_support.hpp"

#include <cmath>
#include <memory>
#include <typeinfo>

namespace kestrix::test {
namespace {

// Only solvers this processor can run are built: building one runs its unit's code (the APX
// build of fma-apx is APX code throughout). test_solver_apx_twin builds fma-apx's.
const std::type_info& class_of(std::string_view workload, std::string_view isa) {
    const auto w = parse_workload_name(workload);
    const auto i = parse_isa_name(isa);
    EXPECT_TRUE(w && i) << workload << " " << isa;
    if (!w || !i) {
        return typeid(void);
    }
    std::unique_ptr<solver> s = make_solver(*w, *i, 0);
    return s ? typeid(*s) : typeid(void);
}

TEST(factory, shares_classes_exactly_where_the_table_does) {
    struct row {
        std::string_view workload;
        std::string_view a;
        std::string_view b;
        bool same;
    };
    const row rows[] = {
        {"standing_wave", "avx", "avx2", true},
        {"soft_gaussian", "avx", "avx2", false},
        {"standing_wave", "avx512f", "avx10-2-512", true},
        {"standing_wave", "avx512vl", "avx10-2-256", true},
        {"soft_gaussian", "avx512f", "avx10-2-512", false},
        {"soft_gaussian", "avx512vl", "avx10-2-256", false},
        {"standing_wave", "sse2", "avx", false},
        {"standing_wave", "fma", "fma-apx", false},
        {"standing_wave", "avx512f", "avx512vl", false},
    };
    for (const row& r : rows) {
        const workload_kind w = *parse_workload_name(r.workload);
        if (!runnable(r.a, w) || !runnable(r.b, w)) {
            continue;
        }
        EXPECT_EQ(class_of(r.workload, r.a) == class_of(r.workload, r.b), r.same)
            << r.workload << " " << r.a << " " << r.b;
    }
    // Nine soft-Gaussian classes, all distinct from each other and from the standing waves.
    for (std::size_t i = 0; i < isa_names.size(); ++i) {
        for (std::size_t j = 0; j < isa_names.size(); ++j) {
            if (!runnable(isa_names[i], workload_kind::soft_gaussian) ||
                !runnable(isa_names[j], workload_kind::standing_wave) ||
                !runnable(isa_names[j], workload_kind::soft_gaussian)) {
                continue;
            }
            EXPECT_EQ(class_of("soft_gaussian", isa_names[i]) ==
                          class_of("soft_gaussian", isa_names[j]),
                      i == j);
            EXPECT_NE(class_of("soft_gaussian", isa_names[i]),
                      class_of("standing_wave", isa_names[j]));
        }
    }
}

TEST(factory, builds_only_for_exact_names) {
    struct row {
        std::string_view workload;
        std::string_view isa;
        bool built;
    };
    const row rows[] = {
        {"standing_wave", "sse2", true},
        {"soft_gaussian", "avx10-2-256", true},
        {"soft_gaussian", "avx10-2-512", true},
        {"standing-wave", "sse2", false},
        {"soft-gaussian", "avx", false},
        {"Standing_wave", "sse2", false},
        {"standing_wave ", "sse2", false},
        {"standing_wave", "AVX2", false},
        {"standing_wave", "avx2 ", false},
        {"standing_wave", "avx10-2", false},
        {"", "sse2", false},
        {"soft_gaussian", "", false},
    };
    for (const row& r : rows) {
        const auto w = parse_workload_name(r.workload);
        const auto i = parse_isa_name(r.isa);
        EXPECT_EQ(w && i && make_solver(*w, *i, 0) != nullptr, r.built)
            << "'" << r.workload << "' '" << r.isa << "'";
    }
    EXPECT_TRUE(is_known_workload("standing_wave"));
    EXPECT_TRUE(is_known_workload("soft_gaussian"));
    EXPECT_FALSE(is_known_workload("soft_gaussian2"));
    EXPECT_FALSE(is_known_workload("standing"));
}

TEST(factory, builds_every_variant_without_allocating) {
    for (std::size_t i = 0; i < isa_names.size(); ++i) {
        for (workload_kind workload :
             {workload_kind::standing_wave, workload_kind::soft_gaussian}) {
            if (!runnable(isa_names[i], workload)) {
                continue;
            }
            std::unique_ptr<solver> s = make_solver(workload, static_cast<isa_kind>(i), 0);
            ASSERT_TRUE(s);
            const solver_view v = view_solver(*s);
            ASSERT_NE(v.grid, nullptr) << isa_names[i];
            EXPECT_FALSE(v.allocated) << "construction allocates nothing";
            EXPECT_EQ(v.grid->e.cells, nullptr);
            EXPECT_EQ(v.is_standing_wave, workload == workload_kind::standing_wave);
            EXPECT_EQ(v.is_soft_gaussian, workload == workload_kind::soft_gaussian);
        }
    }
}

TEST(field_storage, builds_cleared_arrays_and_the_step_constants) {
    field_grid g = build_field_grid({false, 64, 0.01});
    for (const field_array* a : {&g.e, &g.h}) {
        ASSERT_NE(a->cells, nullptr);
        EXPECT_EQ(a->edge, 66u);
        EXPECT_EQ(a->count, 66u * 66u * 66u);
        EXPECT_FALSE(a->large_pages);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a->cells) % 64, 0u);
        for (std::uint64_t i = 0; i < a->count; ++i) {
            const field_cell& c = a->cells[i];
            ASSERT_FALSE(std::signbit(c.x) || std::signbit(c.y) || std::signbit(c.z) ||
                         std::signbit(c.w) || c.x != 0.0 || c.y != 0.0 || c.z != 0.0 || c.w != 0.0);
        }
    }
    EXPECT_EQ(g.dx, 0.01);
    EXPECT_EQ(g.dt, 0.005);
    EXPECT_EQ(g.dv, 1.0000000000000002e-06);
    EXPECT_EQ(g.ce, 0.5);
    EXPECT_EQ(g.ch, 0.5);
}

TEST(field_storage, refuses_what_cannot_be_stored) {
    struct row {
        std::uint64_t edge;
        const char* why;
    };
    const row rows[] = {
        {0, "no cells"},
        {(1ULL << 21) + 2, "beyond the byte-size limit"},
        {1ULL << 22, "cube wraps to 0"},
        {2642246, "cube wraps past 64 bits"},
    };
    for (const row& r : rows) {
        field_array a(r.edge, false);
        EXPECT_EQ(a.cells, nullptr) << r.why;
        EXPECT_EQ(a.count, 0u) << r.why;
        EXPECT_EQ(a.edge, r.edge);
        a.release();
        a.release();
    }
}

TEST(field_storage, allocation_failure_and_reallocation) {
    std::unique_ptr<solver> s = make_solver(workload_kind::standing_wave, isa_kind::sse2, 0);
    ASSERT_EQ(s->allocate_fields({false, 1ULL << 21, 0.01}), "field allocation failed");
    EXPECT_EQ(s->allocate_fields({false, ~0ULL - 1, 0.01}), "field allocation failed");
    EXPECT_EQ(s->step(), "solver H step error in thread 0");

    // A second allocation replaces the first pair with a fresh, cleared one.
    ASSERT_EQ(s->allocate_fields({false, 8, 0.01}), std::nullopt);
    solver_view v = view_solver(*s);
    cell(v.grid->e, 3, 3, 3).x = 1.0;
    ASSERT_EQ(s->allocate_fields({false, 4, 0.01}), std::nullopt);
    v = view_solver(*s);
    EXPECT_TRUE(v.allocated);
    EXPECT_EQ(v.grid->e.edge, 6u);
    EXPECT_EQ(v.grid->h.edge, 6u);
    for (std::uint64_t i = 0; i < v.grid->e.count; ++i) {
        ASSERT_EQ(v.grid->e.cells[i].x, 0.0);
    }
}

cpu_features features(bool avx, bool avx2, bool fma, bool avx512f, bool avx512vl) {
    cpu_features f;
    f.sse = f.sse2 = true;
    f.os_avx_state = f.avx = avx;
    f.avx2 = avx2;
    f.fma = fma;
    f.os_avx512_state = avx512f;
    f.avx512f = avx512f;
    f.avx512vl = avx512vl;
    return f;
}

TEST(variant_run_check, requires_everything_the_compiled_code_uses) {
    const cpu_features westmere = features(false, false, false, false, false);
    const cpu_features sandy_bridge = features(true, false, false, false, false);
    const cpu_features haswell = features(true, true, true, false, false);
    const cpu_features knights_landing = features(true, true, true, true, false);
    const cpu_features skylake_x = features(true, true, true, true, true);
    cpu_features fma_without_system_state = haswell;
    fma_without_system_state.os_avx_state = false;
    fma_without_system_state.avx = false;
    fma_without_system_state.avx2 = false;

    cpu_features apx_without_system_state = haswell;
    apx_without_system_state.apx = true;
    cpu_features apx_machine = apx_without_system_state;
    apx_machine.os_apx_state = true;
    // What an APX build of the fma-apx kernels adds; the stand-in needs what fma needs.
    const bool apx_build = apx_codegen_needs != 0;
    const char* const apx_missing = apx_build ? "its code needs APX register state, APX" : nullptr;

    constexpr workload_kind sw = workload_kind::standing_wave;
    constexpr workload_kind sg = workload_kind::soft_gaussian;
    struct row {
        const cpu_features* cpu;
        std::string_view isa;
        workload_kind workload;
        const char* reason; // nullptr: runnable
    };
    const row rows[] = {
        {&westmere, "sse2", sg, nullptr},
        {&westmere, "avx", sw, "its code needs AVX register state, AVX"},
        {&westmere, "fma", sg, "its code needs AVX register state, AVX, AVX2, FMA"},
        {&sandy_bridge, "avx", sg, nullptr},
        // avx2's standing wave is the avx class; only its soft Gaussian is AVX2 code.
        {&sandy_bridge, "avx2", sw, nullptr},
        {&sandy_bridge, "avx2", sg, "its code needs AVX2"},
        {&westmere, "avx2", sw, "its code needs AVX register state, AVX"},
        {&sandy_bridge, "fma", sw, "its code needs AVX2, FMA"},
        {&haswell, "avx2", sg, nullptr},
        {&haswell, "fma", sw, nullptr},
        {&haswell, "fma-apx", sw, apx_missing},
        {&haswell, "fma-apx", sg, apx_missing},
        {&apx_without_system_state, "fma-apx", sg,
         apx_build ? "its code needs APX register state" : nullptr},
        {&apx_machine, "fma-apx", sw, nullptr},
        {&apx_machine, "fma-apx", sg, nullptr},
        {&sandy_bridge, "fma-apx", sg,
         apx_build ? "its code needs AVX2, FMA, APX register state, APX"
                   : "its code needs AVX2, FMA"},
        {&haswell, "avx512f", sw, "its code needs AVX-512 register state, AVX512F"},
        {&fma_without_system_state, "fma", sg, "its code needs AVX register state, AVX, AVX2"},
        {&knights_landing, "avx512f", sg, nullptr},
        {&knights_landing, "avx10-2-512", sw, nullptr},
        {&knights_landing, "avx512vl", sw, "its code needs AVX512VL"},
        {&knights_landing, "avx10-2-256", sg, "its code needs AVX512VL"},
        {&skylake_x, "avx512vl", sg, nullptr},
        {&skylake_x, "avx10-2-256", sw, nullptr},
    };
    for (const row& r : rows) {
        const std::optional<std::string> got =
            check_variant_runnable_for(*parse_isa_name(r.isa), r.workload, *r.cpu);
        const char* const workload = r.workload == sw ? " standing_wave" : " soft_gaussian";
        if (r.reason == nullptr) {
            EXPECT_EQ(got, std::nullopt) << r.isa << workload;
        } else {
            EXPECT_EQ(got, std::string(r.reason)) << r.isa << workload;
        }
    }
}

} // namespace
} // namespace kestrix::test
