// Failure paths of whole runs, evaluation included: every solver phase failing (by an error
// text or by an exception) in every worker position, threads that cannot be started, and
// timers that deliver nonsense. None of them may hang, crash or end with a score.
#include "driver/run.hpp"
#include "fake_run.hpp"

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

enum class phase { make, allocate, init, pre_step, step, post_step, validate, thread_start };

struct failure {
    phase where;
    std::uint32_t worker;
    bool throws = false; // an exception instead of an error text
};

// Thrown by a thread start that fails with something other than a standard exception.
struct odd_failure {};

// Fails in one phase of one worker; everybody else runs normally. Steps take 50 ms of fake
// time and 1 ms of real time, so that the others are still stepping when a step fails.
class scripted_solver final : public solver {
public:
    scripted_solver(const failure& f, std::uint32_t index)
        : solver(static_cast<std::int32_t>(index)), f_(f), index_(index) {}

    error_text allocate_fields(const field_params&) override { return at(phase::allocate); }
    error_text init_fields() override { return at(phase::init); }
    error_text pre_step(std::uint64_t) override { return at(phase::pre_step); }
    error_text step() override {
        if (auto err = at(phase::step)) {
            return err;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        test::fake_coarse_ms += 50;
        test::fake_fast_ms += 50;
        ++steps_;
        return {};
    }
    error_text post_step(std::uint64_t) override { return at(phase::post_step); }
    error_text validate(std::uint64_t) override { return at(phase::validate); }
    std::uint64_t updates_per_step() const override { return 1000000; }

private:
    error_text at(phase p) {
        // Steps fail on their second call, once the run is under way.
        const bool step_phase = p == phase::pre_step || p == phase::step || p == phase::post_step;
        if (f_.where != p || f_.worker != index_ || (step_phase && steps_ != 1)) {
            return {};
        }
        const std::string text = fmt::format("scripted {} failure in thread {}", name(p), index_);
        if (f_.throws) {
            throw std::runtime_error(text);
        }
        return text;
    }
    static std::string_view name(phase p) {
        constexpr std::string_view names[] = {"make", "allocate",  "init",     "pre_step",
                                              "step", "post_step", "validate", "start"};
        return names[static_cast<int>(p)];
    }

    const failure& f_;
    std::uint32_t index_;
    std::uint64_t steps_ = 0;
};

// A hang is the fault looked for: end the program after a minute instead of at the CTest
// timeout.
class watchdog {
public:
    explicit watchdog(std::string what)
        : what_(std::move(what)), thread_([this] {
              std::unique_lock lock(m_);
              if (!cv_.wait_for(lock, std::chrono::seconds(60), [this] { return done_; })) {
                  std::fprintf(stderr, "run hung: %s\n", what_.c_str());
                  std::_Exit(1);
              }
          }) {}
    ~watchdog() {
        {
            std::lock_guard lock(m_);
            done_ = true;
        }
        cv_.notify_one();
        thread_.join();
    }
    watchdog(const watchdog&) = delete;
    watchdog& operator=(const watchdog&) = delete;

private:
    std::string what_;
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

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

outcome run_whole(std::uint32_t threads, const run_hooks& hooks) {
    test::fake_coarse_ms = 0;
    test::fake_fast_ms = 0;
    bench_config cfg;
    cfg.threads = threads;
    cfg.duration = 1;
    cfg.size = 64;
    topology_cache cache;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    outcome o;
    o.score = run_benchmark_with(cfg, cache, hooks);
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    return o;
}

run_hooks scripted_hooks(test::fake_script& script, const failure& f, std::uint32_t count) {
    run_hooks hooks = test::fake_hooks(script, static_cast<int>(count));
    hooks.make_solver = [&f](std::string_view, std::string_view,
                             std::uint32_t index) -> std::unique_ptr<solver> {
        if (f.where == phase::make && f.worker == index) {
            if (f.throws) {
                throw std::bad_alloc();
            }
            return nullptr;
        }
        return std::make_unique<scripted_solver>(f, index);
    };
    auto started = std::make_shared<std::uint32_t>(0);
    hooks.start_thread = [&f, started](std::function<void()> body) {
        // Threads are started for workers 1, 2, ... in order.
        // Without "throws" the documented std::system_error; with it, an allocation failure
        // for odd workers and a non-standard type for even ones.
        if (f.where == phase::thread_start && ++*started == f.worker) {
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
    return hooks;
}

// What the failing worker (or the run) writes to standard error.
std::string expected_message(const failure& f) {
    const std::uint32_t k = f.worker;
    if (f.throws && f.where != phase::thread_start) {
        return f.where == phase::make ? fmt::format("worker {} failed: std::bad_alloc\n", k)
                                      : fmt::format("worker {} failed: ", k);
    }
    switch (f.where) {
    case phase::make:
        return fmt::format("could not initalize workload standing_wave in thread {}\n", k);
    case phase::allocate:
        return fmt::format("field allocation failed in thread {}\nscripted allocate failure in "
                           "thread {}\n",
                           k, k);
    case phase::init:
        return fmt::format("failed to initalize field in thread {}\nscripted init failure in "
                           "thread {}\n",
                           k, k);
    case phase::pre_step:
        return fmt::format("scripted pre_step failure in thread {}\n", k);
    case phase::step:
        return fmt::format("scripted step failure in thread {}\n", k);
    case phase::post_step:
        return fmt::format("scripted post_step failure in thread {}\n", k);
    case phase::validate:
        return fmt::format("scripted validate failure in thread {}\n", k);
    case phase::thread_start:
        if (f.throws) {
            return fmt::format("could not start worker thread {}: {}; aborting\n", k,
                               k % 2 == 1 ? "std::bad_alloc" : "unknown error");
        }
        return fmt::format("could not start worker thread {}: ", k);
    }
    return {};
}

TEST(failure_paths, every_phase_failing_in_every_position_ends_without_a_score) {
    const phase phases[] = {phase::make, phase::allocate,  phase::init,     phase::pre_step,
                            phase::step, phase::post_step, phase::validate, phase::thread_start};
    for (const std::uint32_t count : {1U, 3U}) {
        for (const phase where : phases) {
            for (std::uint32_t worker = 0; worker < count; ++worker) {
                for (const bool throws : {false, true}) {
                    if (where == phase::thread_start && worker == 0) {
                        continue; // worker 0 runs on the calling thread
                    }
                    const failure f{where, worker, throws};
                    const std::string row =
                        fmt::format("{} threads, phase {}, worker {}{}", count,
                                    static_cast<int>(where), worker, throws ? ", throwing" : "");
                    const watchdog guard(row);
                    test::fake_script script;
                    const outcome o = run_whole(count, scripted_hooks(script, f, count));

                    EXPECT_FALSE(o.score.has_value()) << row;
                    EXPECT_NE(o.err.find(expected_message(f)), std::string::npos) << row << "\n"
                                                                                  << o.err;
                    EXPECT_NE(o.err.find("  invalid result \n"), std::string::npos) << row;
                    EXPECT_EQ(o.out.find("final score"), std::string::npos) << row;
                    EXPECT_EQ(o.out.find("  valid result"), std::string::npos) << row;
                    // Exactly one worker failed and said so once.
                    const bool solver_text = where != phase::make && where != phase::thread_start;
                    EXPECT_EQ(occurrences(o.err, "scripted "), solver_text ? 1U : 0U) << row;
                }
            }
        }
    }
}

TEST(failure_paths, timers_that_deliver_nonsense_give_no_score) {
    struct timer_row {
        const char* name;
        std::function<void(run_hooks&)> break_it;
        std::string err; // part of standard error
    };
    const timer_row rows[] = {
        {"fast timer without frequency",
         [](run_hooks& h) {
             h.probe_fast = [] {
                 fast_timer t;
                 t.source = timer_source::tsc;
                 return t;
             };
         },
         "disagreement between timers for total work is larger than tolerance\n"},
        {"fast clock running backwards",
         [](run_hooks& h) { h.fast_now = [] { return -test::fake_fast_ms * 1000; }; },
         "disagreement between timers for total work is larger than tolerance\n"},
        {"fast clock at the end of its range",
         [](run_hooks& h) { h.fast_now = [] { return INT64_MAX - 1; }; },
         "fast timer will overflow during the run; aborting\n"},
        {"coarse clock at the end of its range",
         [](run_hooks& h) { h.coarse_now = [] { return std::uint64_t{INT64_MAX}; }; },
         "coarse timer will overflow during the run; aborting\n"},
    };
    for (const timer_row& r : rows) {
        const watchdog guard(r.name);
        test::fake_script script;
        run_hooks hooks = test::fake_hooks(script, 2);
        r.break_it(hooks);
        const outcome o = run_whole(2, hooks);
        EXPECT_FALSE(o.score.has_value()) << r.name;
        EXPECT_NE(o.err.find(r.err), std::string::npos) << r.name << "\n" << o.err;
        EXPECT_NE(o.err.find("  invalid result \n"), std::string::npos) << r.name;
        EXPECT_EQ(o.out.find("final score"), std::string::npos) << r.name;
    }
}

} // namespace
} // namespace kestrix
