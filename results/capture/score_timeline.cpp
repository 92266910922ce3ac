#include "capture/score_timeline.hpp"

#include "capture/log_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrix::results {
namespace {

// "%.4g" is off by at most half a unit in the fourth digit: 5e-4 of the value.
constexpr double rate_rounding = 5e-4;

// A point in time with the updates done so far (in millions) and the rate shown.
struct mark {
    double t = 0;
    double updates = 0;
    double rate = 0;
};

// How well (updates b - updates a) is known: the absolute bound of its error.
struct error_model {
    bool exact = false; // counted steps
    double tick = 0;
    double bound(const mark& a, const mark& b) const {
        if (exact) {
            return 0;
        }
        return rate_rounding * (a.updates + b.updates) + (a.rate + b.rate) * tick;
    }
};

// Milliseconds, as the nearest double to the decimal text (so JSON shows "4.06").
double milliseconds(double seconds) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.3f", seconds);
    return std::strtod(buf, nullptr);
}

double significant(double v, int digits) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return std::strtod(buf, nullptr);
}

// The mean rate between lo and hi from the marks inside; null where the marks there span less
// than half of it.
struct window_mean {
    std::optional<double> rate;
    double relative_error = 0;
};
window_mean mean_between(const std::vector<mark>& m, const error_model& err, double lo, double hi) {
    const auto a =
        std::lower_bound(m.begin(), m.end(), lo, [](const mark& x, double t) { return x.t < t; });
    auto b =
        std::upper_bound(m.begin(), m.end(), hi, [](double t, const mark& x) { return t < x.t; });
    if (a == m.end() || b == m.begin()) {
        return {};
    }
    --b;
    if (b <= a || b->t - a->t < (hi - lo) / 2) {
        return {};
    }
    const double done = b->updates - a->updates;
    window_mean w;
    w.rate = std::max(0.0, done / (b->t - a->t));
    w.relative_error = done > 0 ? err.bound(*a, *b) / done : 0;
    return w;
}

} // namespace

score_timeline derive_timeline(const std::vector<progress_sample>& samples,
                               const timeline_inputs& in) {
    score_timeline tl;
    const bool exact = in.threads == 1u && in.grid.has_value();
    tl.method = exact ? "iterations" : "rate_times_time";
    tl.interval_s = in.interval_s;
    tl.progress_lines = samples.size();
    if (samples.empty()) {
        tl.summary.drift_unavailable = "no progress lines: the timed phase did not run";
        return tl;
    }
    const error_model err{exact, exact ? 0.0 : in.coarse_tick_s.value_or(0.0)};
    const double per_step = exact ? 2.0 * std::pow(static_cast<double>(*in.grid), 3) / 1e6 : 0.0;

    // Lines that arrived together (one read) carry the time of the read: the last of them was
    // written closest to it.
    const std::int64_t t0 = samples.front().at_ns;
    std::vector<mark> marks;
    std::uint64_t duration = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto& s = samples[i];
        duration = std::max(duration, s.duration_s);
        if (i + 1 < samples.size() && samples[i + 1].at_ns == s.at_ns) {
            continue;
        }
        const double t = static_cast<double>(s.at_ns - t0) / 1e9;
        const double done = exact ? static_cast<double>(s.iterations) * per_step : s.mgups * t;
        marks.push_back({t, done, s.mgups});
    }
    tl.timed_s = milliseconds(marks.back().t);

    // Intervals of at least interval_s; a tail shorter than half of one joins the last.
    std::vector<timeline_point> points;
    std::vector<std::size_t> starts; // the mark each point's interval starts at
    double worst = -1;
    auto emit = [&](std::size_t a, std::size_t b, bool replace_last) {
        const double done = marks[b].updates - marks[a].updates;
        const double rate = std::max(0.0, done / (marks[b].t - marks[a].t));
        if (replace_last) {
            points.back() = {marks[b].t, rate};
        } else {
            points.push_back({marks[b].t, rate});
            starts.push_back(a);
        }
        if (done > 0) {
            worst = std::max(worst, err.bound(marks[a], marks[b]) / done);
        }
    };
    std::size_t last = 0;
    for (std::size_t i = 1; i < marks.size(); ++i) {
        if (marks[i].t - marks[last].t >= in.interval_s) {
            emit(last, i, false);
            last = i;
        }
    }
    const std::size_t end = marks.size() - 1;
    if (last != end) {
        if (points.empty() || marks[end].t - marks[last].t >= in.interval_s / 2) {
            if (marks[end].t > marks[last].t) {
                emit(last, end, false);
            }
        } else {
            emit(starts.back(), end, true);
        }
    }
    tl.intervals = points.size();
    if (worst >= 0) {
        tl.relative_precision = significant(worst, 3);
    }
    if (!points.empty()) {
        const auto [lo, hi] = std::minmax_element(
            points.begin(), points.end(),
            [](const timeline_point& a, const timeline_point& b) { return a.mgups < b.mgups; });
        tl.summary.min_mgups = significant(lo->mgups, 6);
        tl.summary.max_mgups = significant(hi->mgups, 6);
        if (marks.back().t > 0) {
            tl.summary.mean_mgups =
                significant((marks.back().updates - marks.front().updates) / marks.back().t, 6);
        }
    }

    // Drift: the last tenth of the phase against the first tenth after its start-up.
    const double phase = marks.back().t;
    if (static_cast<double>(duration) < drift_min_phase_s || phase < drift_min_phase_s) {
        tl.summary.drift_unavailable = "too short";
    } else {
        const double tenth = phase / 10;
        const auto first = mean_between(marks, err, drift_skip_s, drift_skip_s + tenth);
        const auto final = mean_between(marks, err, phase - tenth, phase);
        if (!first.rate || !final.rate) {
            tl.summary.drift_unavailable = "too few progress lines";
        } else if (*first.rate <= 0) {
            tl.summary.drift_unavailable = "no progress at the start";
        } else {
            tl.summary.drift = significant(*final.rate / *first.rate, 4);
            tl.summary.drift_relative_precision =
                significant(first.relative_error + final.relative_error, 3);
        }
    }

    for (auto& p : points) {
        p = {milliseconds(p.t_s), significant(p.mgups, 6)};
    }
    tl.downsampled = points.size() > max_timeline_points;
    tl.points = downsample(points);
    return tl;
}

std::map<std::uint64_t, std::vector<progress_sample>>
progress_samples(const std::vector<console_event>& events) {
    std::map<std::uint64_t, std::vector<progress_sample>> out;
    std::optional<std::uint64_t> current;
    for (const auto& e : events) {
        if (const auto p = progress_of(e.text)) {
            if (current && p->mgups) {
                out[*current].push_back({e.at_ns, *p->mgups, p->iterations, p->duration_s});
            }
        } else if (const auto k = sub_run_marker_of(e.text)) {
            current = *k;
        }
    }
    return out;
}

std::optional<double> frequency_hz(std::string_view text) {
    double v = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || !std::isfinite(v) || v <= 0) {
        return std::nullopt;
    }
    std::string_view unit = text.substr(static_cast<std::size_t>(p - text.data()));
    while (!unit.empty() && unit.front() == ' ') {
        unit.remove_prefix(1);
    }
    for (const auto& [name, scale] : {std::pair{"Hz", 1.0}, std::pair{"kHz", 1e3},
                                      std::pair{"MHz", 1e6}, std::pair{"GHz", 1e9}}) {
        if (unit.starts_with(name)) {
            return v * scale;
        }
    }
    return std::nullopt;
}

void attach_timelines(record& r, const std::vector<console_event>& events, double interval_s) {
    const auto by_index = progress_samples(events);
    static const std::vector<progress_sample> none;
    for (auto& s : r.sub_runs) {
        const auto it = by_index.find(s.index);
        timeline_inputs in{s.threads, s.grid, std::nullopt, interval_s};
        if (s.coarse_timer) {
            if (const auto hz = frequency_hz(s.coarse_timer->frequency)) {
                in.coarse_tick_s = 1.0 / *hz;
            }
        }
        s.timeline = derive_timeline(it == by_index.end() ? none : it->second, in);
    }
}

} // namespace kestrix::results
