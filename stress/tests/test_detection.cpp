// One flipped bit in one worker's field is found at the next checkpoint and the core is named,
// in both modes, for a scalar and a fused family, both workloads, 2, 3 and 4 workers; a clean
// run reports nothing.
#include "stress/engine.hpp"
#include "stress/field_hash.hpp"

#include "platform/cpu.hpp"
#include "solver/field.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cmath>

namespace kestrix::stress {
namespace {

// Worker i runs on processor cpu(i): numbers unlike the workers' indices, so that a report
// by index shows. Pinning is left out, so four workers run on any machine.
std::uint32_t cpu(std::uint32_t i) {
    return 5 + 3 * i;
}

std::vector<logical> processors(std::uint32_t n) {
    std::vector<logical> out;
    for (std::uint32_t i = 0; i < n; ++i) {
        out.push_back(logical{.idx = i, .core_id = i, .os = cpu(i), .group = 0});
    }
    return out;
}

stress_environment quiet() {
    stress_environment env;
    env.pin = [](const logical&) {};
    return env;
}

bool runs_here(isa_kind isa, workload_kind w) {
    return !check_isa_support(isa) && !check_variant_runnable(isa, w);
}

// The first fused variant this processor runs (fma, then avx512f); sse2 when none does.
isa_kind fused_variant(workload_kind w) {
    for (isa_kind isa : {isa_kind::fma, isa_kind::avx512f, isa_kind::avx512vl}) {
        if (runs_here(isa, w)) {
            return isa;
        }
    }
    return isa_kind::sse2;
}

const char* name_of(isa_kind isa) {
    return isa_names[static_cast<std::size_t>(isa)].data();
}

stress_settings base(stress_mode mode, workload_kind w, isa_kind isa, std::uint32_t workers) {
    stress_settings s;
    s.mode = mode;
    s.workload = w;
    s.size = 64;
    s.variants = {isa};
    s.processors = processors(workers);
    s.slice = std::chrono::minutes(10);
    s.check_every = 4;
    s.slice_steps = 8;
    s.max_slices = mode == stress_mode::all ? 1 : workers;
    return s;
}

// Both loops of the hash give one value, and every byte of both fields counts.
TEST(StressHash, BothLoopsAgreeAndEveryCellCounts) {
    field_grid g = build_field_grid(field_params{false, 64, 0.01});
    ASSERT_NE(g.e.cells, nullptr);
    for (std::uint64_t i = 0; i < g.e.count; ++i) {
        g.e.cells[i] = field_cell{double(i), -double(i), 0.5, 0.0};
        g.h.cells[i] = field_cell{0.25, double(i % 7), 1.0 / double(i + 1), 0.0};
    }
    const cpu_features f = detect_cpu_features();
    const bool avx2 = f.avx2 && f.os_avx_state;
    const std::uint64_t before = hash_fields(g, false);
    EXPECT_EQ(hash_fields(g), before);
    if (avx2) {
        EXPECT_EQ(hash_fields(g, true), before);
    }
    // The last lane of the last cell of H, then the first of E.
    for (double* v : {&g.h.cells[g.h.count - 1].w, &g.e.cells[0].x}) {
        const double keep = *v;
        *v = std::nextafter(keep, 1e300);
        EXPECT_NE(hash_fields(g, false), before);
        if (avx2) {
            EXPECT_NE(hash_fields(g, true), before);
        }
        *v = keep;
    }
}

TEST(StressDetection, OneFlippedBitIsFoundAtTheNextCheckpointAndTheCoreNamed) {
    for (stress_mode mode : {stress_mode::all, stress_mode::cycle}) {
        for (workload_kind w : {workload_kind::soft_gaussian, workload_kind::standing_wave}) {
            for (isa_kind isa : {isa_kind::sse2, fused_variant(w)}) {
                for (std::uint32_t workers : {2u, 3u, 4u}) {
                    // The last core: in cycle mode the earlier ones have left their hashes.
                    const std::uint32_t bad = workers - 1;
                    stress_settings s = base(mode, w, isa, workers);
                    s.faults = {{.cpu = cpu(bad),
                                 .slice = mode == stress_mode::all ? 0 : bad,
                                 .step = 5,
                                 .bit = 40}};
                    const std::string what = fmt::format(
                        "{} mode, {}, {}, {} workers", mode == stress_mode::all ? "all" : "cycle",
                        w == workload_kind::standing_wave ? "standing wave" : "soft Gaussian",
                        name_of(isa), workers);
                    const stress_outcome out = run_stress(s, quiet());
                    ASSERT_FALSE(out.setup_error) << what << ": " << *out.setup_error;
                    ASSERT_EQ(out.errors.size(), 1u) << what;
                    const error_event& e = out.errors.front();
                    EXPECT_EQ(e.step, 8u) << what; // the checkpoint after step 5
                    // Two soft-Gaussian workers tie; the standing wave checks itself.
                    const bool tie = workers == 2 && w == workload_kind::soft_gaussian;
                    if (tie) {
                        EXPECT_EQ(e.kind, error_kind::disagreement) << what;
                        EXPECT_EQ(e.cpus, (std::vector<std::uint32_t>{cpu(0), cpu(1)})) << what;
                    } else {
                        EXPECT_EQ(e.kind, error_kind::hash_mismatch) << what;
                        EXPECT_EQ(e.cpus, std::vector<std::uint32_t>{cpu(bad)}) << what;
                        EXPECT_EQ(out.cores[bad].errors, 1u) << what;
                        EXPECT_EQ(out.cores[0].errors, 0u) << what;
                    }
                    EXPECT_NE(e.message.find(fmt::format("cpu {}", cpu(bad))), std::string::npos)
                        << what << ": " << e.message;
                }
            }
        }
    }
}

TEST(StressDetection, TwoAgainstTwoIsADisagreementOfAllFour) {
    stress_settings s = base(stress_mode::all, workload_kind::soft_gaussian, isa_kind::sse2, 4);
    s.faults = {{.cpu = cpu(1), .slice = 0, .step = 3, .bit = 40},
                {.cpu = cpu(2), .slice = 0, .step = 3, .bit = 40}};
    const stress_outcome out = run_stress(s, quiet());
    ASSERT_EQ(out.errors.size(), 1u);
    EXPECT_EQ(out.errors[0].kind, error_kind::disagreement);
    EXPECT_EQ(out.errors[0].step, 4u);
    EXPECT_EQ(out.errors[0].cpus, (std::vector<std::uint32_t>{cpu(0), cpu(1), cpu(2), cpu(3)}));
}

// Cycle mode: the first core was the bad one; the second disagrees with it, the third
// settles it against the first.
TEST(StressDetection, LaterSlicesSettleADisagreementInCycleMode) {
    stress_settings s = base(stress_mode::cycle, workload_kind::soft_gaussian, isa_kind::sse2, 3);
    s.keep_going = true;
    s.faults = {{.cpu = cpu(0), .slice = 0, .step = 2, .bit = 40}};
    const stress_outcome out = run_stress(s, quiet());
    ASSERT_EQ(out.errors.size(), 2u);
    EXPECT_EQ(out.errors[0].kind, error_kind::disagreement);
    EXPECT_EQ(out.errors[0].cpus, (std::vector<std::uint32_t>{cpu(0), cpu(1)}));
    EXPECT_EQ(out.errors[1].kind, error_kind::hash_mismatch);
    EXPECT_EQ(out.errors[1].cpus, std::vector<std::uint32_t>{cpu(0)});
    EXPECT_TRUE(out.cores[0].left_out);
    EXPECT_FALSE(out.cores[1].left_out);
    EXPECT_EQ(out.cores[2].errors, 0u);
}

// --keep-going in all mode: the failed core is reported, left out of the next slice, and the
// others go on.
TEST(StressDetection, KeepGoingLeavesTheFailedCoreOut) {
    stress_settings s = base(stress_mode::all, workload_kind::soft_gaussian, isa_kind::sse2, 3);
    s.keep_going = true;
    s.max_slices = 2;
    s.faults = {{.cpu = cpu(2), .slice = 0, .step = 4, .bit = 40}};
    const stress_outcome out = run_stress(s, quiet());
    ASSERT_EQ(out.errors.size(), 1u);
    EXPECT_EQ(out.errors[0].cpus, std::vector<std::uint32_t>{cpu(2)});
    EXPECT_TRUE(out.cores[2].left_out);
    // The others: checkpoints 0, 4 and 8 in both slices.
    EXPECT_EQ(out.cores[0].checkpoints, 6u);
    EXPECT_EQ(out.cores[1].checkpoints, 6u);
    EXPECT_EQ(out.cores[2].checkpoints, 1u); // step 0 only
}

TEST(StressDetection, TheWorkloadsOwnChecksCountAsErrors) {
    // An exponent bit: the value becomes huge, which the energy check sees before any
    // checkpoint comes. (The standing wave's node check samples one cell in 16 per axis and
    // misses the same flip for a thousand steps: only the hash finds it.)
    const struct {
        workload_kind w;
        error_kind kind;
    } cases[] = {{workload_kind::soft_gaussian, error_kind::energy_ratio}};
    for (const auto& c : cases) {
        stress_settings s = base(stress_mode::all, c.w, isa_kind::sse2, 2);
        s.check_every = 1000;
        s.slice_steps = 0;
        s.faults = {{.cpu = cpu(1), .slice = 0, .step = 1, .bit = 62}};
        const stress_outcome out = run_stress(s, quiet());
        ASSERT_EQ(out.errors.size(), 1u);
        EXPECT_EQ(out.errors[0].kind, c.kind) << out.errors[0].message;
        EXPECT_EQ(out.errors[0].cpus, std::vector<std::uint32_t>{cpu(1)});
        EXPECT_LT(out.errors[0].step, 1000u);
        // Named by processor, also in the solver's own text ("in thread 8").
        EXPECT_EQ(out.errors[0].message.rfind(fmt::format("cpu {}: ", cpu(1)), 0), 0u);
        EXPECT_NE(out.errors[0].message.find(fmt::format("thread {}", cpu(1))), std::string::npos)
            << out.errors[0].message;
    }
}

} // namespace
} // namespace kestrix::stress
