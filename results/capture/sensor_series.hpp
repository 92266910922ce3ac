#pragma once
// The sensor samples of a run, cut into its sub-runs: per sub-run the clock over the processors,
// the temperature, the power and the throttle events as series on the score's time axis, and
// their summary (mean and highest clock, highest temperature, energy, mean power, MGups per
// watt, throttle events).
#include "capture/console_events.hpp"
#include "host/sensors.hpp"
#include "model/record.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrix::results {

// One sample, its time counted from the child's start like the console events'.
struct timed_reading {
    std::int64_t at_ns = 0;
    sensor_reading reading;
};

// The part of a run a sub-run had.
struct sample_window {
    std::int64_t from_ns = 0, to_ns = 0; // samples at from_ns <= t < to_ns belong to it
    std::int64_t origin_ns = 0;          // time 0 of its series
    std::optional<double> score;         // for MGups per watt
};

// The series and summary of one window. Energy and throttle events count from the last sample
// before the window (the first inside it when there is none).
sub_run_sensors sensors_in_window(const std::vector<timed_reading>& samples,
                                  const sensor_status& status, const sample_window& window,
                                  double interval_s);

// Gives each sub-run of a run its sensors: a sub-run runs from its "run k/n" marker to the
// next one (the last to the end), and its time 0 is its first progress line, as for the score
// over time.
void attach_sensors(record& r, const std::vector<console_event>& events,
                    const sensor_status& status, const std::vector<timed_reading>& samples,
                    double interval_s);

} // namespace kestrix::results
