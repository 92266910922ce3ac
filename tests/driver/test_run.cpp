// Whole runs on a scripted solver and fake clocks: the header, the phases, the failure paths
// and the checks before the workers.
#include "console/output.hpp"
#include "driver/run.hpp"
#include "support/fake_run.hpp"
#include "support/watchdog.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>

namespace kestrix {
namespace {

using test::fail_at;
using test::fake_script;

struct captured_run {
    std::string out;
    std::string err;
    bool stopped = false;
    std::size_t results = 0;
    std::vector<thread_result> rows;
};

class run_test : public ::testing::Test {
protected:
    void SetUp() override {
        test::fake_coarse_ms = 0;
        test::fake_fast_ms = 0;
        sink_.clear();
    }

    // The fake environment, writing into this test's sink.
    run_env env_of(fake_script& s, int count) {
        s.count = count;
        return test::fake_env(s, sink_);
    }

    // perform_run only: the state as the evaluation would get it.
    captured_run perform(std::uint32_t count, const run_env& env, run_request cfg = {}) {
        cfg.duration = 1;
        cfg.size = 64;
        threading_manager m;
        m.thread_count = count;
        sink_.clear();
        const run_state state = perform_run(cfg, m, count, env);
        captured_run r;
        r.out = sink_.out();
        r.err = sink_.err();
        r.stopped = state.stopped;
        r.results = state.results.size();
        r.rows = state.results;
        return r;
    }

    // The whole run including the evaluation.
    std::optional<double> benchmark(const run_request& cfg, const run_env& env, std::string& out,
                                    std::string& err) {
        sink_.clear();
        auto score = run_benchmark(cfg, env);
        out = sink_.out();
        err = sink_.err();
        return score;
    }

    static run_request short_config(std::uint32_t threads) {
        return run_request{.threads = threads, .duration = 1, .size = 64};
    }

    test::capture_sink sink_;
};

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

TEST_F(run_test, one_thread_run_prints_every_line_in_order) {
    fake_script s;
    s.updates = 100000000; // 400 MGups at 250 ms per step
    std::string out, err;
    const auto score = benchmark(short_config(1), env_of(s, 1), out, err);
    ASSERT_TRUE(score.has_value());
    EXPECT_DOUBLE_EQ(*score, 400.0);
    EXPECT_EQ(err, "");

    auto progress = [](int elapsed, std::string_view rate, int n) {
        return fmt::format("\rbenchmarking... {}/1s {:>16} MGups  {} iterations", elapsed, rate, n);
    };
    const std::string expected = "Test CPU @ 1.00GHz\n"
                                 "features: sse2\n"
                                 "running with 1 thread (os)\n"
                                 "64 x 64 x 64 grid\n"
                                 "17.55 MiB per thread\n"
                                 "17.55 MiB total\n"
                                 "Fast Timer Frequency: 1.00 MHz (TSC)\n"
                                 "Coarse Timer Frequency: 1.00 KHz\n"
                                 "allocating fields.... \n"
                                 "initalizing fields...\n"
                                 "initialization took 0ms\n"
                                 "starting bench..\n" +
                                 progress(0, "0", 0) + progress(0, "400", 1) +
                                 progress(0, "400", 2) + progress(0, "400", 3) +
                                 progress(1, "400", 4) +
                                 "\n"
                                 "validating result..\n"
                                 "thread  grid updates   time   MGups  iterations\n"
                                 "     0     400000000  1.00s  400.00           4\n"
                                 "===============\n"
                                 "  valid result \n"
                                 "===============\n"
                                 "kestrix v1.4.0 standing_wave sse2\n"
                                 "Test CPU @ 1.00GHz\n"
                                 "final score: 400.00 MGups\n";
    EXPECT_EQ(out, expected);
}

TEST_F(run_test, several_threads_each_deliver_a_result_and_the_score_is_their_sum) {
    fake_script s;
    s.updates = 100000000;
    std::string out, err;
    const auto score = benchmark(short_config(4), env_of(s, 4), out, err);
    ASSERT_TRUE(score.has_value());
    EXPECT_DOUBLE_EQ(*score, 1600.0);
    EXPECT_TRUE(contains(out, "running with 4 threads (os)\n"));
    EXPECT_TRUE(contains(out, "70.19 MiB total\n"));
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 25) << out;
    EXPECT_EQ(s.made, 4);
    EXPECT_EQ(s.validated, 4);
    EXPECT_EQ(err, "");
}

struct failure_case {
    const char* name;
    std::uint32_t count;
    std::uint32_t worker;
    fail_at where;
    std::string err; // exact standard error of the run (before the evaluation)
    std::size_t results;
    int initialised_at_most;
    bool main_validates; // "validating result.." appears
};

class run_failure_test : public run_test, public ::testing::WithParamInterface<failure_case> {};

TEST_P(run_failure_test, a_failing_worker_stops_the_run) {
    const failure_case& c = GetParam();
    fake_script s;
    s.fail_worker = c.worker;
    s.where = c.where;
    if (c.where == fail_at::step) {
        // The others keep stepping in real time until they see the stop.
        s.step_ms = 1;
        s.others_wait_for_stop = true;
        s.fail_step = 1;
    }
    s.failing_validate_waits = c.where == fail_at::validate;
    const captured_run r = perform(c.count, env_of(s, static_cast<int>(c.count)));
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.results, c.results);
    EXPECT_LE(s.initialised, c.initialised_at_most);
    EXPECT_EQ(contains(r.out, "validating result.."), c.main_validates) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    worker_failures, run_failure_test,
    ::testing::Values(
        failure_case{"no_solver_in_worker_2", 3, 2, fail_at::make,
                     "could not initalize workload standing_wave in thread 2\n", 0, 0, false},
        failure_case{"no_solver_in_main", 3, 0, fail_at::make,
                     "could not initalize workload standing_wave in thread 0\n", 0, 0, false},
        failure_case{"allocation_in_worker_1", 2, 1, fail_at::allocate,
                     "field allocation failed in thread 1\nfield allocation failed\n", 0, 0, false},
        failure_case{"initialisation_in_main", 3, 0, fail_at::init,
                     "failed to initalize field in thread 0\ninit broke\n", 0, 2, false},
        failure_case{"step_in_worker_1", 2, 1, fail_at::step, "solver H step error in thread 1\n",
                     0, 2, false},
        failure_case{"step_in_main", 2, 0, fail_at::step, "solver H step error in thread 0\n", 0, 2,
                     false},
        failure_case{"validation_after_the_others_appended", 3, 2, fail_at::validate,
                     "validation broke in thread 2\n", 2, 3, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(run_test, a_worker_leaving_on_the_stop_never_keeps_others_at_the_next_barrier) {
    // One worker's initialisation fails right after the first barrier; workers that see the
    // stop late must not leave the rest waiting at the second one.
    const test::watchdog guard("run hung at a barrier");
    for (int round = 0; round < 20; ++round) {
        fake_script s;
        s.fail_worker = 1;
        s.where = fail_at::init;
        const captured_run r = perform(8, env_of(s, 8));
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.results, 0U);
    }
}

TEST_F(run_test, a_thread_that_cannot_be_created_releases_the_started_workers) {
    const test::watchdog guard("run hung at a barrier");
    struct creation_case {
        std::uint32_t count;
        int fail_at_call; // 0-based call of start_thread that fails
        int started;
    };
    for (const creation_case c :
         {creation_case{4, 1, 1}, creation_case{2, 0, 0}, creation_case{5, 3, 3}}) {
        fake_script s;
        run_env hooks = env_of(s, static_cast<int>(c.count));
        int calls = 0;
        hooks.start_thread = [&](std::function<void()> body) {
            if (calls++ == c.fail_at_call) {
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            }
            return std::thread(std::move(body));
        };
        const captured_run r = perform(c.count, hooks);
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.results, 0U);
        EXPECT_TRUE(
            contains(r.err, fmt::format("could not start worker thread {}: ", c.fail_at_call + 1)))
            << r.err;
        EXPECT_TRUE(contains(r.err, "; aborting\n"));
        EXPECT_EQ(s.made, c.started); // worker 0 never runs
        EXPECT_EQ(s.initialised, 0);
        EXPECT_FALSE(contains(r.out, "allocating fields"));
    }
}

TEST_F(run_test, every_worker_is_started_and_says_why_it_failed) {
    // Large pages with none reserved: every allocation fails, the first ones while later
    // workers are still being started. Each of the 40 and the main worker's line, every time.
    const test::watchdog guard("run hung at a barrier");
    for (int round = 0; round < 5; ++round) {
        SetUp();
        fake_script s;
        s.fail_worker = test::every_worker;
        s.where = fail_at::allocate;
        run_request cfg;
        cfg.large_pages = true;
        const captured_run r = perform(40, env_of(s, 40), cfg);
        EXPECT_EQ(s.made, 40);
        EXPECT_TRUE(contains(r.out, "allocating fields.... (large pages)\n")) << r.out;
        for (std::uint32_t i = 0; i < 40; ++i) {
            const std::string pair =
                fmt::format("field allocation failed in thread {}\nfield allocation failed\n", i);
            EXPECT_TRUE(contains(r.err, pair)) << "round " << round << ", worker " << i;
        }
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 80) << r.err;
        EXPECT_TRUE(r.stopped);
    }
}

TEST_F(run_test, the_header_total_does_not_wrap) {
    // 523905 grids of N = 8192 are 16 EiB and a little: beyond 64 bits. The thread start fails
    // at once, so nothing runs.
    fake_script s;
    run_env hooks = env_of(s, 1);
    hooks.start_thread = [](std::function<void()>) -> std::thread { throw std::bad_alloc(); };
    threading_manager m;
    perform_run(run_request{.duration = 1, .size = 8192}, m, 523905, hooks);
    const std::string out = sink_.out();
    const std::string err = sink_.err();
    EXPECT_TRUE(contains(out, "32.02 TiB per thread\n16.00 EiB total\n")) << out;
    EXPECT_EQ(err, "could not start worker thread 1: std::bad_alloc; aborting\n");
}

TEST_F(run_test, thread_bookkeeping_beyond_memory_ends_before_anything_is_printed) {
    fake_script s;
    run_env hooks = env_of(s, 1);
    hooks.available_memory = [] { return std::uint64_t{8} << 30; };
    const captured_run r = perform(4000000000U, hooks);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "not enough memory for the bookkeeping of 4000000000 threads; aborting\n");
    EXPECT_FALSE(r.stopped);
    EXPECT_EQ(s.made, 0);
}

TEST_F(run_test, grids_beyond_the_free_memory_are_refused_before_the_workers) {
    struct memory_case {
        std::uint32_t count;
        std::uint64_t grids_free; // free memory in grids of N = 64, plus a little
        bool large_pages;
        bool refused;
    };
    const std::uint64_t grid = grid_bytes(64);
    for (const memory_case c : {memory_case{4, 3, false, true}, memory_case{3, 3, false, false},
                                memory_case{4, 0, false, false}, memory_case{4, 3, true, false},
                                memory_case{40000, 3, false, true}}) {
        SetUp();
        fake_script s;
        run_env hooks = env_of(s, static_cast<int>(c.count));
        const std::uint64_t free = c.grids_free * grid + grid / 2;
        hooks.available_memory = [free] { return free; };
        run_request cfg;
        cfg.large_pages = c.large_pages;
        if (c.grids_free == 0) {
            // One grid is already more than the free memory: the allocation decides.
            hooks.available_memory = [grid] { return grid - 1; };
        }
        const captured_run r = perform(c.count, hooks, cfg);
        EXPECT_EQ(contains(r.err, "threads need more than the"), c.refused) << r.err;
        if (c.refused) {
            EXPECT_EQ(r.err, fmt::format("{} threads need more than the {} of memory available "
                                         "for their grids; aborting\n",
                                         c.count, format_bytes(free)));
            EXPECT_EQ(s.made, 0);
        } else {
            EXPECT_EQ(r.results, c.count);
        }
    }
}

struct precheck_case {
    const char* name;
    bool compliant;
    bool bypass;
    bool strict;
    std::optional<std::string> isa_reasons;
    std::optional<std::string> not_runnable;
    std::int64_t fast_now_ms; // fake fast clock at the overflow test
    std::int64_t coarse_now_ms;
    bool runs;
    std::string err_before_evaluation;
};

class run_precheck_test : public run_test, public ::testing::WithParamInterface<precheck_case> {};

const std::string warning_box = "===========\n  warning  \n===========\n";
const std::string invalid_tail =
    "==================\n  invalid result \n==================\nnot all threads produced a "
    "result\n";

TEST_P(run_precheck_test, checks_before_the_workers) {
    const precheck_case& c = GetParam();
    fake_script s;
    s.updates = 100000000;
    run_env hooks = env_of(s, 1);
    hooks.hwbot_compliant = [&](const fast_timer&) { return c.compliant; };
    hooks.isa_support = [&](isa_kind) { return c.isa_reasons; };
    hooks.variant_runnable = [&](isa_kind, workload_kind) { return c.not_runnable; };
    test::fake_fast_ms = c.fast_now_ms;
    test::fake_coarse_ms = c.coarse_now_ms;
    run_request cfg = short_config(1);
    cfg.bypass_timer_check = c.bypass;
    cfg.strict_isa_check = c.strict;
    cfg.isa = isa_kind::avx2;
    std::string out, err;
    const auto score = benchmark(cfg, hooks, out, err);
    EXPECT_EQ(score.has_value(), c.runs);
    EXPECT_EQ(s.made, c.runs ? 1 : 0);
    EXPECT_EQ(err, c.runs ? c.err_before_evaluation : c.err_before_evaluation + invalid_tail);
}

INSTANTIATE_TEST_SUITE_P(
    prechecks, run_precheck_test,
    ::testing::Values(
        precheck_case{"all_fine", true, false, false, {}, {}, 0, 0, true, ""},
        precheck_case{"timer_not_compliant",
                      false,
                      false,
                      false,
                      {},
                      {},
                      0,
                      0,
                      false,
                      "Fast Timer is not HWBOT compliant (fast timer source: TSC); aborting\n"
                      "Use --bypass-timer-check to run regardless if you are sure that this is a "
                      "detection error in terms of your windows version, processor, or timer\n"},
        precheck_case{"timer_not_compliant_bypassed",
                      false,
                      true,
                      false,
                      {},
                      {},
                      0,
                      0,
                      true,
                      warning_box +
                          "Fast timer is not compliant with HWBOT rules (fast timer source: "
                          "TSC)\nCheck that this is a detection error in terms of your windows "
                          "version, processor, or timer before submitting\n"},
        precheck_case{"isa_unsupported_strict",
                      true,
                      false,
                      true,
                      std::string("no AVX2\nno FMA\n"),
                      {},
                      0,
                      0,
                      false,
                      warning_box + "no AVX2\nno FMA\nisa support check failed; aborting\n"},
        precheck_case{"isa_unsupported_lenient",
                      true,
                      false,
                      false,
                      std::string("no AVX2\n"),
                      {},
                      0,
                      0,
                      true,
                      warning_box + "no AVX2\n"},
        precheck_case{"variant_cannot_execute", true, false, false, std::string("no AVX2\n"),
                      std::string("the processor lacks AVX2"), 0, 0, false,
                      warning_box + "no AVX2\nthe avx2 solver cannot execute on this processor: "
                                    "the processor lacks AVX2; aborting\n"},
        precheck_case{"fast_timer_overflows",
                      true,
                      false,
                      false,
                      {},
                      {},
                      (INT64_MAX - 2000000) / 1000,
                      0,
                      false,
                      "fast timer will overflow during the run; aborting\n"},
        precheck_case{"coarse_timer_overflows",
                      true,
                      false,
                      false,
                      {},
                      {},
                      0,
                      INT64_MAX - 2000,
                      false,
                      "coarse timer will overflow during the run; aborting\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(run_test, a_non_compliant_timer_still_prints_the_header_and_both_frequencies) {
    fake_script s;
    run_env hooks = env_of(s, 2);
    hooks.hwbot_compliant = [](const fast_timer&) { return false; };
    std::string out, err;
    benchmark(short_config(2), hooks, out, err);
    EXPECT_TRUE(out.ends_with("running with 2 threads (os)\n64 x 64 x 64 grid\n17.55 MiB per "
                              "thread\n35.09 MiB total\nFast Timer Frequency: 1.00 MHz "
                              "(TSC)\nCoarse Timer Frequency: 1.00 KHz\n"))
        << out;
}

TEST_F(run_test, timers_that_disagree_make_the_run_invalid) {
    fake_script s;
    s.fast_skew_ms = 10; // 40 ms over four steps
    std::string out, err;
    EXPECT_FALSE(benchmark(short_config(1), env_of(s, 1), out, err).has_value());
    EXPECT_TRUE(contains(err, "fast timer = 1040ms    coarse timer = 1000ms\n")) << err;
}

TEST_F(run_test, the_duration_is_clamped_when_the_run_starts) {
    struct clamp_case {
        std::uint32_t duration;
        std::string_view last_progress;
    };
    for (const clamp_case c : {clamp_case{0, "1/1s"}, clamp_case{5000, "1000/1000s"}}) {
        SetUp();
        fake_script s;
        run_request cfg = short_config(1);
        cfg.duration = c.duration;
        std::string out, err;
        ASSERT_TRUE(benchmark(cfg, env_of(s, 1), out, err).has_value()) << err;
        const auto last = out.rfind("\rbenchmarking... ");
        ASSERT_NE(last, std::string::npos);
        EXPECT_EQ(out.substr(last + 17, c.last_progress.size()), c.last_progress);
    }
}

TEST_F(run_test, a_fixed_thread_count_with_the_os_policy_never_detects_the_topology) {
    fake_script s;
    run_env env = env_of(s, 3);
    int detected = 0;
    env.topology = [&detected, real = env.topology]() -> const cpu_topology& {
        ++detected;
        return real();
    };
    std::string out, err;
    benchmark(short_config(3), env, out, err);
    EXPECT_EQ(detected, 0);
    EXPECT_TRUE(contains(out, "running with 3 threads (os)\n"));
}

TEST(automatic_thread_count, cores_limited_by_the_grids_that_fit) {
    struct row {
        std::uint32_t cores;
        std::uint64_t memory_grids; // free memory in grids of N = 192 (plus a little)
        bool unreadable;
        std::uint32_t expected;
    };
    const std::uint64_t grid = grid_bytes(192);
    for (const row r :
         {row{16, 5, false, 5}, row{16, 0, false, 16}, row{16, 0, true, 16}, row{32, 40, false, 32},
          row{0, 40, false, 1}, row{1, 1, false, 1}, row{4, 3, false, 3}}) {
        const std::uint64_t memory = r.unreadable ? 0 : r.memory_grids * grid + grid / 2;
        EXPECT_EQ(automatic_thread_count(r.cores, memory, 192), r.expected)
            << r.cores << " cores, " << r.memory_grids << " grids";
    }
}

TEST_F(run_test, the_automatic_count_reads_the_cores_and_the_free_memory_of_the_environment) {
    fake_script s;
    run_env env = env_of(s, 1);
    const std::uint64_t grid = grid_bytes(64);
    struct row {
        std::uint32_t threads;
        std::uint64_t free; // in grids of N = 64
        std::uint32_t expected;
    };
    for (const row r : {row{7, 0, 7}, row{0, 0, 1}, row{0, 5, 1}}) {
        env.available_memory = [&] { return r.free * grid; };
        EXPECT_EQ(resolve_thread_count(run_request{.threads = r.threads, .size = 64}, env),
                  r.expected);
    }
}

} // namespace
} // namespace kestrix
