#pragma once
// The score over time, from the progress lines as they arrived. A progress line shows the sum
// of every worker's average rate since its own start (four significant digits) and the fastest
// worker's step count, so the line itself hides a late drop. With R(t) the rate shown at
// elapsed time t the run has done about R(t)·t updates, and an interval's rate is Δ(R·t)/Δt;
// with one worker the step count gives the updates exactly.
#include "capture/console_events.hpp"
#include "model/record.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrix::results {

// One progress line and when it arrived.
struct progress_sample {
    std::int64_t at_ns = 0;
    double mgups = 0;
    std::uint64_t iterations = 0;
    std::uint64_t duration_s = 0;
};

struct timeline_inputs {
    std::optional<std::uint64_t> threads, grid;
    std::optional<double> coarse_tick_s; // the workers time themselves with this resolution
    double interval_s = 1.0;
};

// Drift needs a timed phase of at least this many seconds.
inline constexpr double drift_min_phase_s = 10.0;
// ... and skips the phase's first seconds (caches, clocks ramping up).
inline constexpr double drift_skip_s = 2.0;

score_timeline derive_timeline(const std::vector<progress_sample>& samples,
                               const timeline_inputs& in);

// The progress lines of each sub-run, by the index of its "run k/n" marker.
std::map<std::uint64_t, std::vector<progress_sample>>
progress_samples(const std::vector<console_event>& events);

// Gives each sub-run of a run its timeline.
void attach_timelines(record& r, const std::vector<console_event>& events, double interval_s);

// "250 Hz", "1.00 GHz" as kestrix prints a frequency.
std::optional<double> frequency_hz(std::string_view text);

} // namespace kestrix::results
