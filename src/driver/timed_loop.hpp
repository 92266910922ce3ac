#pragma once
// The timed phase of one worker: step the solver until the coarse clock has passed the
// duration, the main worker rewriting the progress line before every step. The worker and the
// benchmark report (bench/) both run this one loop.
#include "console/output.hpp"
#include "driver/run_types.hpp"

#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <span>
#include <stop_token>

namespace kestrix {

struct timed_loop {
    solver& s;
    std::uint32_t duration = 1;    // seconds, as the progress line shows them
    std::int64_t coarse_start = 0; // the coarse clock when the phase began
    const coarse_timer& coarse;
    const std::function<std::uint64_t()>& coarse_now;
    std::span<progress_slot> progress;
    std::uint32_t index = 0; // this worker's slot
    bool is_main = false;    // writes the progress line
    std::mutex& console;
    console_sink& sink;
    const std::stop_source& stop;
    std::uint64_t step_limit = std::numeric_limits<std::uint64_t>::max(); // the report's cap
};

struct timed_loop_end {
    std::uint64_t steps = 0;
    error_text error;     // a step operation failed with this text
    bool stopped = false; // another worker asked the run to stop, or an interrupt came
};

timed_loop_end run_timed_loop(const timed_loop& loop);

} // namespace kestrix
