// Failure paths of whole runs, evaluation included: every solver phase failing (by an error
// text or by an exception) in every worker position, threads that cannot be started, and
// timers that deliver nonsense. None of them may hang, crash or end with a score.
#include "driver/run.hpp"
#include "support/fake_run.hpp"
#include "support/watchdog.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <system_error>

namespace kestrix {
namespace {

using test::fail_at;

struct failure {
    fail_at where; // fail_at::nothing: the thread start of the worker fails
    std::uint32_t worker;
    bool throws = false; // an exception instead of an error text
};

// Thrown by a thread start that fails with something other than a standard exception.
struct odd_failure {};

std::size_t occurrences(const std::string& text, std::string_view part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

struct outcome {
    std::optional<double> score;
    std::string out;
    std::string err;
};

outcome run_whole(std::uint32_t threads, const run_env& env, test::capture_sink& sink) {
    test::fake_coarse_ms = 0;
    test::fake_fast_ms = 0;
    sink.clear();
    outcome o;
    o.score = run_benchmark(run_request{.threads = threads, .duration = 1, .size = 64}, env);
    o.out = sink.out();
    o.err = sink.err();
    return o;
}

// Steps take 50 ms of fake time and 1 ms of real time, so that the others are still stepping
// when a step fails on its second call.
run_env scripted_env(test::fake_script& script, const failure& f, std::uint32_t count,
                     test::capture_sink& sink) {
    script.count = static_cast<int>(count);
    script.where = f.where;
    script.fail_worker = f.worker;
    script.throws = f.throws;
    script.fail_step = 1;
    script.step_ms = 50;
    script.pace_ms = 1;
    script.updates = 1000000;
    run_env env = test::fake_env(script, sink);
    auto started = std::make_shared<std::uint32_t>(0);
    const bool start_fails = f.where == fail_at::nothing;
    env.start_thread = [f, start_fails, started](std::function<void()> body) {
        // Threads are started for workers 1, 2, ... in order. Without "throws" the documented
        // std::system_error; with it, an allocation failure for odd workers and a non-standard
        // type for even ones.
        if (start_fails && ++*started == f.worker) {
            if (!f.throws) {
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            }
            if (f.worker % 2 == 1) {
                throw std::bad_alloc();
            }
            throw odd_failure{};
        }
        return std::thread(std::move(body));
    };
    return env;
}

// What the failing operation says itself (empty for make and the thread start).
std::string solver_text(const failure& f) {
    const std::uint32_t k = f.worker;
    switch (f.where) {
    case fail_at::allocate:
        return "field allocation failed";
    case fail_at::init:
        return "init broke";
    case fail_at::pre_step:
        return fmt::format("pre_step broke in thread {}", k);
    case fail_at::step:
        return fmt::format("solver H step error in thread {}", k);
    case fail_at::post_step:
        return fmt::format("post_step broke in thread {}", k);
    case fail_at::validate:
        return fmt::format("validation broke in thread {}", k);
    default:
        return {};
    }
}

// What the failing worker (or the run) writes to standard error.
std::string expected_message(const failure& f) {
    const std::uint32_t k = f.worker;
    if (f.where == fail_at::nothing) {
        if (f.throws) {
            return fmt::format("could not start worker thread {}: {}; aborting\n", k,
                               k % 2 == 1 ? "std::bad_alloc" : "unknown error");
        }
        return fmt::format("could not start worker thread {}: ", k);
    }
    if (f.throws) {
        return f.where == fail_at::make ? fmt::format("worker {} failed: std::bad_alloc\n", k)
                                        : fmt::format("worker {} failed: {}\n", k, solver_text(f));
    }
    switch (f.where) {
    case fail_at::make:
        return fmt::format("could not initalize workload standing_wave in thread {}\n", k);
    case fail_at::allocate:
        return fmt::format("field allocation failed in thread {}\n{}\n", k, solver_text(f));
    case fail_at::init:
        return fmt::format("failed to initalize field in thread {}\n{}\n", k, solver_text(f));
    default:
        return solver_text(f) + "\n";
    }
}

TEST(failure_paths, every_phase_failing_in_every_position_ends_without_a_score) {
    const fail_at phases[] = {fail_at::make,     fail_at::allocate, fail_at::init,
                              fail_at::pre_step, fail_at::step,     fail_at::post_step,
                              fail_at::validate, fail_at::nothing};
    for (const std::uint32_t count : {1U, 3U}) {
        for (const fail_at where : phases) {
            for (std::uint32_t worker = 0; worker < count; ++worker) {
                for (const bool throws : {false, true}) {
                    if (where == fail_at::nothing && worker == 0) {
                        continue; // worker 0 runs on the calling thread
                    }
                    const failure f{where, worker, throws};
                    const std::string row =
                        fmt::format("{} threads, phase {}, worker {}{}", count,
                                    static_cast<int>(where), worker, throws ? ", throwing" : "");
                    const test::watchdog guard(row);
                    test::fake_script script;
                    test::capture_sink sink;
                    const outcome o = run_whole(count, scripted_env(script, f, count, sink), sink);

                    EXPECT_FALSE(o.score.has_value()) << row;
                    EXPECT_NE(o.err.find(expected_message(f)), std::string::npos) << row << "\n"
                                                                                  << o.err;
                    EXPECT_NE(o.err.find("  invalid result \n"), std::string::npos) << row;
                    EXPECT_EQ(o.out.find("final score"), std::string::npos) << row;
                    EXPECT_EQ(o.out.find("  valid result"), std::string::npos) << row;
                    // Exactly one worker failed and said so once.
                    if (const std::string text = solver_text(f); !text.empty()) {
                        EXPECT_EQ(occurrences(o.err, text + "\n"), 1U) << row;
                    }
                }
            }
        }
    }
}

TEST(failure_paths, timers_that_deliver_nonsense_give_no_score) {
    struct timer_row {
        const char* name;
        std::function<void(run_env&)> break_it;
        std::string err; // part of standard error
    };
    const timer_row rows[] = {
        {"fast timer without frequency",
         [](run_env& h) {
             h.probe_fast = [] {
                 fast_timer t;
                 t.source = timer_source::tsc;
                 return t;
             };
         },
         "disagreement between timers for total work is larger than tolerance\n"},
        {"fast clock running backwards",
         [](run_env& h) { h.fast_now = [] { return -test::fake_fast_ms * 1000; }; },
         "disagreement between timers for total work is larger than tolerance\n"},
        {"fast clock at the end of its range",
         [](run_env& h) { h.fast_now = [] { return INT64_MAX - 1; }; },
         "fast timer will overflow during the run; aborting\n"},
        {"coarse clock at the end of its range",
         [](run_env& h) { h.coarse_now = [] { return std::uint64_t{INT64_MAX}; }; },
         "coarse timer will overflow during the run; aborting\n"},
    };
    for (const timer_row& r : rows) {
        const test::watchdog guard(r.name);
        test::fake_script script;
        script.count = 2;
        test::capture_sink sink;
        run_env env = test::fake_env(script, sink);
        r.break_it(env);
        const outcome o = run_whole(2, env, sink);
        EXPECT_FALSE(o.score.has_value()) << r.name;
        EXPECT_NE(o.err.find(r.err), std::string::npos) << r.name << "\n" << o.err;
        EXPECT_NE(o.err.find("  invalid result \n"), std::string::npos) << r.name;
        EXPECT_EQ(o.out.find("final score"), std::string::npos) << r.name;
    }
}

} // namespace
} // namespace kestrix
