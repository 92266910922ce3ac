#include "driver/interrupt.hpp"
#include "driver/progress.hpp"
#include "driver/run_types.hpp"
#include "driver/timed_loop.hpp"

#include "console/log_text.hpp"
#include "console/output.hpp"

#include <exception>
#include <string>

#include <fmt/format.h>

namespace kestrix {

namespace {

class worker_run {
public:
    explicit worker_run(const worker_args& a) : a_(a) {}

    void run() {
        try {
            body();
        } catch (const std::exception& e) {
            fail(fmt::format("worker {} failed: {}", a_.index, e.what()));
        } catch (...) {
            fail(fmt::format("worker {} failed", a_.index));
        }
        // A worker that leaves before the common start drops out of the barrier, so that no
        // other worker ever waits for it.
        if (!arrived_at_start_) {
            a_.barrier.arrive_and_drop();
        }
    }

private:
    void say(stream s, std::string_view text) {
        std::lock_guard lock(a_.console);
        write_line(a_.env.sink(), s, text);
    }

    void fail(std::string_view text) {
        std::lock_guard lock(a_.console);
        write_line(a_.env.sink(), stream::err, text);
        a_.stop.request_stop();
    }

    void fail(std::string_view head, std::string_view text) {
        std::lock_guard lock(a_.console);
        write_line(a_.env.sink(), stream::err, head);
        write_line(a_.env.sink(), stream::err, text);
        a_.stop.request_stop();
    }

    bool stopped() const { return stop_or_interrupt(a_.stop); }

    void body() {
        const run_request& p = a_.request;
        a_.env.place(a_.placement, a_.index);
        if (a_.is_main) {
            say(stream::out, std::string(log_text::allocating) +
                                 std::string(p.large_pages ? log_text::large_pages : ""));
        }
        const std::int64_t t0 = a_.env.fast_now();

        std::unique_ptr<solver> s = a_.env.make_solver(p.workload, p.isa, a_.index);
        if (!s) {
            fail(fmt::format("could not initalize workload {} in thread {}",
                             workload_name(p.workload), a_.index));
            return;
        }
        if (auto err = s->allocate_fields(field_params{p.large_pages, p.size, 0.01})) {
            fail(fmt::format("field allocation failed in thread {}", a_.index), *err);
            return;
        }
        a_.barrier.arrive_and_wait(); // every grid allocated
        if (stopped()) {
            return;
        }
        if (a_.is_main) {
            say(stream::out, log_text::initializing);
        }
        if (auto err = s->init_fields()) {
            fail(fmt::format("failed to initalize field in thread {}", a_.index), *err);
            return;
        }
        a_.barrier.arrive_and_wait(); // every grid initialised
        if (stopped()) {
            return;
        }
        const std::int64_t t1 = a_.env.fast_now();
        if (a_.is_main) {
            say(stream::out, std::string(log_text::initialization_took) +
                                 fmt::format("{}", elapsed_milliseconds(a_.fast, t0, t1)) +
                                 std::string(log_text::milliseconds));
        }
        arrived_at_start_ = true;
        a_.barrier.arrive_and_wait(); // common start
        if (a_.is_main) {
            say(stream::out, log_text::starting);
        }
        timed_phase(*s);
    }

    void timed_phase(solver& s) {
        const run_request& p = a_.request;
        const auto c0 = static_cast<std::int64_t>(a_.env.coarse_now());
        const std::int64_t f0 = a_.env.fast_now();
        const timed_loop_end end = run_timed_loop(timed_loop{.s = s,
                                                             .duration = p.duration,
                                                             .coarse_start = c0,
                                                             .coarse = a_.coarse,
                                                             .coarse_now = a_.env.coarse_now,
                                                             .progress = a_.progress,
                                                             .index = a_.index,
                                                             .is_main = a_.is_main,
                                                             .console = a_.console,
                                                             .sink = a_.env.sink(),
                                                             .stop = a_.stop});
        if (end.error) {
            fail(*end.error);
            return;
        }
        if (end.stopped) {
            (void)stopped(); // an interrupt becomes the run's stop request
            return;
        }
        const std::uint64_t n = end.steps;

        // The fast interval lies inside the coarse one.
        const std::int64_t f1 = a_.env.fast_now();
        const auto c1 = static_cast<std::int64_t>(a_.env.coarse_now());
        if (a_.is_main) {
            {
                std::lock_guard lock(a_.console);
                print_progress(a_.env.sink(), elapsed_seconds(a_.fast, f0, f1), p.duration,
                               a_.progress);
                write_line(a_.env.sink(), stream::out, "");
            }
            say(stream::out, log_text::validating);
        }
        if (auto err = s.validate(n)) {
            fail(*err);
            return;
        }
        const thread_result r{.thread_index = a_.index,
                              .coarse_ms = elapsed_milliseconds(a_.coarse, c0, c1),
                              .fast_us = elapsed_microseconds(a_.fast, f0, f1),
                              .iterations = n,
                              .updates = s.updates_per_step() * n};
        std::lock_guard lock(a_.results);
        a_.state.results.push_back(r);
    }

    const worker_args& a_;
    bool arrived_at_start_ = false;
};

} // namespace

void worker(const worker_args& args) {
    worker_run(args).run();
}

} // namespace kestrix
