// The program's own timed loop over the bare kernels: what the progress line, the node
// checks and the clocks cost a step.
#include "driver/progress.hpp"
#include "driver/run_types.hpp"
#include "driver/timed_loop.hpp"
#include "markdown.hpp"
#include "platform/timer.hpp"
#include "report_stats.hpp"
#include "sections.hpp"
#include "solver/family_table.hpp"

#include <fmt/format.h>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <stop_token>
#include <unistd.h>
#include <vector>

namespace kestrix::bench {
namespace {

// Standard output to the null device while the progress line is timed, so the report itself
// stays readable; the line is still formatted, written and flushed every step.
class quiet_stdout {
public:
    quiet_stdout() {
        std::fflush(stdout);
        saved_ = dup(1);
        const int null_fd = open("/dev/null", O_WRONLY);
        if (null_fd >= 0) {
            dup2(null_fd, 1);
            close(null_fd);
        }
    }
    ~quiet_stdout() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, 1);
            close(saved_);
        }
    }
    quiet_stdout(const quiet_stdout&) = delete;
    quiet_stdout& operator=(const quiet_stdout&) = delete;

private:
    int saved_ = -1;
};

// The program's timed loop as its main worker runs it (progress line under the console lock,
// three virtual calls, one coarse-timer read and the slot update per step), capped at `steps`
// steps; seconds taken, or -1 when a step failed.
double timed_loop(solver& s, std::uint64_t steps, std::mutex& console,
                  std::vector<progress_slot>& slots, const coarse_timer& coarse) {
    static const std::function<std::uint64_t()> coarse_now = coarse_timer_now;
    const std::stop_source stop;
    const double t0 = now_seconds();
    const timed_loop_end end =
        run_timed_loop(kestrix::timed_loop{.s = s,
                                           .duration = 30,
                                           .coarse_start = static_cast<std::int64_t>(coarse_now()),
                                           .coarse = coarse,
                                           .coarse_now = coarse_now,
                                           .progress = slots,
                                           .index = 0,
                                           .is_main = true,
                                           .console = console,
                                           .sink = process_console(),
                                           .stop = stop,
                                           .step_limit = steps});
    const double t = now_seconds() - t0;
    return end.error ? -1.0 : t;
}

struct loop_figures {
    std::vector<double> bare;        // seconds per step
    std::vector<double> loop;        // seconds per step
    std::vector<double> progress_us; // one progress line
    std::vector<double> check_us;    // one pre- and post-step node check
};

// Repetitions of bare kernels and the timed loop, in alternating order, then the extras alone.
std::optional<std::string> measure(const options& o, const std::string& isa, std::uint64_t n,
                                   const coarse_timer& coarse, loop_figures& f) {
    std::unique_ptr<solver> s = make_solver(workload_kind::standing_wave, *parse_isa_name(isa), 0);
    if (s->allocate_fields({false, n, 0.01}) || s->init_fields()) {
        return "solver setup failed";
    }
    field_grid& g = *view_solver(*s).grid;
    const family_entry& code = family_code(family_of_name(isa));
    const double w0 = now_seconds();
    code.update_h(g);
    code.update_e(g);
    const std::uint64_t k = steps_for(o.min_time, now_seconds() - w0, 100000);
    std::mutex console;
    std::vector<progress_slot> slots(1);
    quiet_stdout quiet;
    auto run_bare = [&] {
        const double t0 = now_seconds();
        for (std::uint64_t i = 0; i < k; ++i) {
            code.update_h(g);
            code.update_e(g);
        }
        f.bare.push_back((now_seconds() - t0) / static_cast<double>(k));
    };
    for (std::uint64_t r = 0; r < o.reps; ++r) {
        // Alternate which comes first, so neither always follows the other.
        if (r % 2 == 0) {
            run_bare();
        }
        const double t = timed_loop(*s, k, console, slots, coarse);
        if (t < 0.0) {
            return "timed loop failed";
        }
        f.loop.push_back(t / static_cast<double>(k));
        if (r % 2 == 1) {
            run_bare();
        }
        // The extras alone, many times over, for a figure that noise cannot hide.
        constexpr int calls = 2000;
        double p0 = now_seconds();
        for (int i = 0; i < calls; ++i) {
            std::lock_guard lock(console);
            print_progress(process_console(), 1, 30, slots);
        }
        f.progress_us.push_back((now_seconds() - p0) * 1e6 / calls);
        p0 = now_seconds();
        for (int i = 0; i < calls; ++i) {
            if (s->pre_step(0) || s->post_step(0)) {
                return "node check failed";
            }
        }
        f.check_us.push_back((now_seconds() - p0) * 1e6 / calls);
    }
    return {};
}

} // namespace

void section_overhead(const options& o) {
    const std::uint64_t n = 64; // the edge the timed-loop target names
    md::heading(fmt::format("Timed loop over bare kernels: standing wave, N = {}, 1 thread", n));
    md::table_head({{"variant", false},
                    {"bare step ms"},
                    {"loop step ms"},
                    {"loop / bare - 1"},
                    {"progress line us"},
                    {"node check us"},
                    {"measured extras / step"}});
    crew c(1, o.pin);
    const coarse_timer coarse = probe_coarse_timer();
    for (const auto& isa : o.isas) {
        note(fmt::format("overhead: {}", isa));
        loop_figures f;
        c.run([&](std::uint32_t, lane& l) { l.error = measure(o, isa, n, coarse, f); });
        if (auto err = c.error()) {
            note(*err);
            return;
        }
        const double b = median(f.bare);
        const double extras = (median(f.progress_us) + median(f.check_us)) * 1e-6;
        md::row(isa, md::fixed(1e3 * b, 3), md::fixed(1e3 * median(f.loop), 3),
                md::signed_percent(median_ratio(f.loop, f.bare) - 1.0, 2),
                md::fixed(median(f.progress_us), 2), md::fixed(median(f.check_us), 2),
                md::percent(extras / b, 3));
    }
}

} // namespace kestrix::bench
