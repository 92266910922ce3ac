// Over 20,000 checkpoints of every variant this machine runs, at a checkpoint every step,
// and nothing reported.
#include "stress/engine.hpp"

#include "platform/cpu.hpp"

#include <gtest/gtest.h>

namespace kestrix::stress {
namespace {

TEST(StressCleanRun, TwentyThousandCheckpointsReportNothing) {
    stress_settings s;
    s.workload = workload_kind::soft_gaussian;
    s.size = 64;
    for (std::size_t i = 0; i < isa_count; ++i) {
        const auto isa = static_cast<isa_kind>(i);
        if (!check_isa_support(isa) && !check_variant_runnable(isa, s.workload)) {
            s.variants.push_back(isa);
        }
    }
    for (std::uint32_t i = 0; i < 2; ++i) {
        s.processors.push_back(logical{.idx = i, .core_id = i, .os = i, .group = 0});
    }
    s.slice = std::chrono::minutes(10);
    s.check_every = 1;
    const std::uint64_t wanted = 20000;
    // Per slice: two workers, steps 0..slice_steps each.
    s.slice_steps = wanted / (2 * s.variants.size()) + 1;
    s.max_slices = static_cast<std::uint32_t>(s.variants.size());
    stress_environment env;
    env.pin = [](const logical&) {};
    const stress_outcome out = run_stress(s, env);
    ASSERT_FALSE(out.setup_error);
    EXPECT_TRUE(out.errors.empty()) << out.errors.front().message;
    std::uint64_t checkpoints = 0;
    for (const core_report& c : out.cores) {
        checkpoints += c.checkpoints;
        EXPECT_EQ(c.variants, s.variants);
    }
    EXPECT_GE(checkpoints, wanted);
}

} // namespace
} // namespace kestrix::stress
