#include "driver/timed_loop.hpp"

#include "driver/progress.hpp"

#include "platform/interrupt.hpp"

namespace kestrix {

timed_loop_end run_timed_loop(const timed_loop& loop) {
    solver& s = loop.s;
    progress_slot& slot = loop.progress[loop.index];
    const auto limit = static_cast<std::int64_t>(std::uint64_t{loop.duration} * 1000);
    timed_loop_end end;
    std::uint64_t& n = end.steps;
    std::int64_t el = 0;
    do {
        if (loop.is_main) {
            std::lock_guard lock(loop.console);
            print_progress(loop.sink, el / 1000, loop.duration, loop.progress);
        }
        error_text err = s.pre_step(n);
        if (!err) {
            err = s.step();
        }
        if (!err) {
            err = s.post_step(n);
        }
        if (err) {
            end.error = std::move(err);
            return end;
        }
        if (loop.stop.stop_requested() || interrupt_received() != 0) {
            end.stopped = true;
            return end;
        }
        ++n;
        el = elapsed_milliseconds(loop.coarse, loop.coarse_start,
                                  static_cast<std::int64_t>(loop.coarse_now()));
        if (el > 0) {
            slot.mgups.store(static_cast<double>(s.updates_per_step() * n) /
                                 (static_cast<double>(el) * 1000.0),
                             std::memory_order_relaxed);
        }
        slot.iterations.store(n, std::memory_order_relaxed);
    } while (el < limit && n < loop.step_limit);
    return end;
}

} // namespace kestrix
