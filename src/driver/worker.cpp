#include "driver/progress.hpp"
#include "driver/run_types.hpp"

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

    bool stopped() const { return a_.stop.stop_requested(); }

    void body() {
        const run_request& p = a_.request;
        a_.env.place(a_.placement, a_.index);
        if (a_.is_main) {
            say(stream::out,
                std::string("allocating fields.... ") + (p.large_pages ? "(large pages)" : ""));
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
            say(stream::out, "initalizing fields...");
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
            say(stream::out,
                fmt::format("initialization took {}ms", elapsed_milliseconds(a_.fast, t0, t1)));
        }
        arrived_at_start_ = true;
        a_.barrier.arrive_and_wait(); // common start
        if (a_.is_main) {
            say(stream::out, "starting bench..");
        }
        timed_phase(*s);
    }

    void timed_phase(solver& s) {
        const run_request& p = a_.request;
        progress_slot& slot = a_.progress[a_.index];
        std::uint64_t n = 0;
        std::int64_t el = 0;
        const auto c0 = static_cast<std::int64_t>(a_.env.coarse_now());
        const std::int64_t f0 = a_.env.fast_now();
        const auto limit = static_cast<std::int64_t>(std::uint64_t{p.duration} * 1000);
        do {
            if (a_.is_main) {
                std::lock_guard lock(a_.console);
                print_progress(a_.env.sink(), el / 1000, p.duration, a_.progress);
            }
            error_text err = s.pre_step(n);
            if (!err) {
                err = s.step();
            }
            if (!err) {
                err = s.post_step(n);
            }
            if (err) {
                fail(*err);
                return;
            }
            if (stopped()) {
                return;
            }
            ++n;
            el =
                elapsed_milliseconds(a_.coarse, c0, static_cast<std::int64_t>(a_.env.coarse_now()));
            if (el > 0) {
                slot.mgups.store(static_cast<double>(s.updates_per_step() * n) /
                                     (static_cast<double>(el) * 1000.0),
                                 std::memory_order_relaxed);
            }
            slot.iterations.store(n, std::memory_order_relaxed);
        } while (el < limit);

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
            say(stream::out, "validating result..");
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
