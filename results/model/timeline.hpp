#pragma once
// The score over time of one sub-run: the aggregate rate per interval of its timed phase,
// derived from the progress lines as they arrived, and what it says about the run (drift).
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

// A record keeps at most this many points per sub-run.
inline constexpr std::size_t max_timeline_points = 1000;
// Drift below this marks the sub-run: its score fell during the run.
inline constexpr double drift_mark_below = 0.97;

struct timeline_point {
    double t_s = 0;   // end of the interval, seconds since the timed phase began
    double mgups = 0; // the aggregate rate over the interval
};

struct timeline_summary {
    // Over all intervals, before downsampling.
    std::optional<double> mean_mgups, min_mgups, max_mgups;
    // Mean rate over the last tenth of the timed phase / over the first tenth after 2 s.
    std::optional<double> drift;
    std::optional<double> drift_relative_precision;
    std::optional<std::string> drift_unavailable; // why drift is null
};

struct score_timeline {
    std::string method;    // "iterations" (one worker, exact) or "rate_times_time"
    double interval_s = 1; // as asked; an interval is longer where lines come slower
    double timed_s = 0;    // first to last progress line, by arrival time
    std::uint64_t progress_lines = 0;
    std::uint64_t intervals = 0; // before downsampling
    // The largest relative error an interval's rate inherits from the printed figures
    // (0 for the exact iteration count); null without intervals.
    std::optional<double> relative_precision;
    bool downsampled = false;
    std::vector<timeline_point> points;
    timeline_summary summary;
};

// At most max_points points: buckets of consecutive points, each kept as its minimum and its
// maximum in time order, so that no spike or dip disappears.
std::vector<timeline_point> downsample(const std::vector<timeline_point>& points,
                                       std::size_t max_points = max_timeline_points);

// "the score fell by x % during the run" where drift is below the mark, else empty.
std::string drift_note(const timeline_summary& s);

void to_json(nlohmann::json& j, const timeline_point& v);
void from_json(const nlohmann::json& j, timeline_point& v);
void to_json(nlohmann::json& j, const timeline_summary& v);
void from_json(const nlohmann::json& j, timeline_summary& v);
void to_json(nlohmann::json& j, const score_timeline& v);
void from_json(const nlohmann::json& j, score_timeline& v);

} // namespace kestrix::results
