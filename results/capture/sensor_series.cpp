#include "capture/sensor_series.hpp"

#include "capture/log_reader.hpp"

#include <algorithm>
#include <limits>
#include <map>

namespace kestrix::results {
namespace {

series_origin origin_of(const sensor_source& s) {
    return {s.source, s.unavailable, s.note};
}

double seconds_between(std::int64_t from_ns, std::int64_t to_ns) {
    return static_cast<double>(to_ns - from_ns) / 1e9;
}

struct clock_spread {
    double min = 0, mean = 0, max = 0;
};

std::optional<clock_spread> spread_of(const std::vector<std::optional<double>>& mhz) {
    clock_spread s{std::numeric_limits<double>::max(), 0, std::numeric_limits<double>::lowest()};
    std::size_t n = 0;
    for (const auto& v : mhz) {
        if (v) {
            s.min = std::min(s.min, *v);
            s.max = std::max(s.max, *v);
            s.mean += *v;
            ++n;
        }
    }
    if (n == 0) {
        return std::nullopt;
    }
    s.mean /= static_cast<double>(n);
    return s;
}

void add_clock(sub_run_sensors& out, const std::vector<const timed_reading*>& in,
               std::int64_t origin_ns) {
    std::vector<double> sums;
    std::vector<std::size_t> counts;
    double mean_sum = 0;
    for (const timed_reading* s : in) {
        const auto& mhz = s->reading.clock_mhz;
        const auto spread = spread_of(mhz);
        if (!spread) {
            continue;
        }
        out.clock.points.push_back(
            {seconds_between(origin_ns, s->at_ns), spread->min, spread->mean, spread->max});
        mean_sum += spread->mean;
        out.summary.clock_max_mhz =
            std::max(out.summary.clock_max_mhz.value_or(spread->max), spread->max);
        if (sums.size() < mhz.size()) {
            sums.resize(mhz.size(), 0);
            counts.resize(mhz.size(), 0);
        }
        for (std::size_t i = 0; i < mhz.size(); ++i) {
            if (mhz[i]) {
                sums[i] += *mhz[i];
                ++counts[i];
            }
        }
    }
    if (!out.clock.points.empty()) {
        out.summary.clock_mean_mhz = mean_sum / static_cast<double>(out.clock.points.size());
    }
    for (std::size_t i = 0; i < sums.size(); ++i) {
        out.clock.processor_mean_mhz.push_back(
            counts[i] ? std::optional<double>(sums[i] / static_cast<double>(counts[i]))
                      : std::nullopt);
    }
}

void add_temperature(sub_run_sensors& out, const std::vector<const timed_reading*>& in,
                     std::int64_t origin_ns) {
    for (const timed_reading* s : in) {
        if (const auto c = s->reading.temperature_c) {
            out.temperature_c.points.push_back({seconds_between(origin_ns, s->at_ns), *c});
            out.summary.temperature_max_c =
                std::max(out.summary.temperature_max_c.value_or(*c), *c);
        }
    }
}

// Power from the energy counter between successive samples, or as the system gives it; the
// energy over the window, and its mean power.
void add_power(sub_run_sensors& out, const timed_reading* base,
               const std::vector<const timed_reading*>& in, std::int64_t origin_ns) {
    const timed_reading* prev = base && base->reading.energy_j ? base : nullptr;
    const timed_reading* first = prev;
    const timed_reading* last = nullptr;
    for (const timed_reading* s : in) {
        if (!s->reading.energy_j) {
            continue;
        }
        if (prev && s->at_ns > prev->at_ns) {
            const double dt = seconds_between(prev->at_ns, s->at_ns);
            out.power_w.points.push_back({seconds_between(origin_ns, s->at_ns),
                                          (*s->reading.energy_j - *prev->reading.energy_j) / dt});
        }
        prev = s;
        first = first ? first : s;
        last = s;
    }
    if (first && last && last->at_ns > first->at_ns) {
        out.summary.energy_j = *last->reading.energy_j - *first->reading.energy_j;
        out.summary.power_mean_w =
            *out.summary.energy_j / seconds_between(first->at_ns, last->at_ns);
        return;
    }
    // Power without energy: its points as they are, the energy by the trapezoid rule.
    prev = nullptr;
    double joules = 0, seconds = 0;
    for (const timed_reading* s : in) {
        if (!s->reading.power_w) {
            continue;
        }
        out.power_w.points.push_back({seconds_between(origin_ns, s->at_ns), *s->reading.power_w});
        if (prev) {
            const double dt = seconds_between(prev->at_ns, s->at_ns);
            joules += (*prev->reading.power_w + *s->reading.power_w) / 2 * dt;
            seconds += dt;
        }
        prev = s;
    }
    if (seconds > 0) {
        out.summary.energy_j = joules;
        out.summary.power_mean_w = joules / seconds;
    }
}

void add_throttle(sub_run_sensors& out, const timed_reading* base,
                  const std::vector<const timed_reading*>& in, std::int64_t origin_ns) {
    std::optional<std::uint64_t> start =
        base ? base->reading.throttle_events : std::optional<std::uint64_t>();
    for (const timed_reading* s : in) {
        const auto n = s->reading.throttle_events;
        if (!n) {
            continue;
        }
        start = start ? start : n;
        const std::uint64_t since = *n >= *start ? *n - *start : 0;
        out.throttle_events.points.push_back(
            {seconds_between(origin_ns, s->at_ns), static_cast<double>(since)});
        out.summary.throttle_events = since;
    }
}

} // namespace

sub_run_sensors sensors_in_window(const std::vector<timed_reading>& samples,
                                  const sensor_status& status, const sample_window& window,
                                  double interval_s) {
    sub_run_sensors out;
    out.interval_s = interval_s;
    out.clock.label = status.clock_label;
    out.clock.origin = origin_of(status.clock);
    out.temperature_c.origin = origin_of(status.temperature);
    out.power_w.origin = origin_of(status.power);
    out.throttle_events.origin = origin_of(status.throttle);

    const timed_reading* base = nullptr;
    std::vector<const timed_reading*> in;
    for (const auto& s : samples) {
        if (s.at_ns < window.from_ns) {
            base = &s;
        } else if (s.at_ns < window.to_ns) {
            in.push_back(&s);
        }
    }
    out.samples = in.size();
    add_clock(out, in, window.origin_ns);
    add_temperature(out, in, window.origin_ns);
    add_power(out, base, in, window.origin_ns);
    add_throttle(out, base, in, window.origin_ns);
    if (window.score && out.summary.power_mean_w && *out.summary.power_mean_w > 0) {
        out.summary.mgups_per_w = *window.score / *out.summary.power_mean_w;
    }

    const std::size_t before = out.clock.points.size() + out.temperature_c.points.size() +
                               out.power_w.points.size() + out.throttle_events.points.size();
    out.clock.points = downsample(out.clock.points);
    for (value_series* v : {&out.temperature_c, &out.power_w, &out.throttle_events}) {
        v->points = downsample(v->points);
    }
    out.downsampled = before != out.clock.points.size() + out.temperature_c.points.size() +
                                    out.power_w.points.size() + out.throttle_events.points.size();
    return out;
}

void attach_sensors(record& r, const std::vector<console_event>& events,
                    const sensor_status& status, const std::vector<timed_reading>& samples,
                    double interval_s) {
    // Each sub-run's start (its marker) and its first progress line.
    std::map<std::uint64_t, std::int64_t> starts, first_progress;
    std::optional<std::uint64_t> current;
    for (const auto& e : events) {
        if (const auto k = sub_run_marker_of(e.text)) {
            current = *k;
            starts.emplace(*k, e.at_ns);
        } else if (current && progress_of(e.text)) {
            first_progress.emplace(*current, e.at_ns);
        }
    }
    for (auto& s : r.sub_runs) {
        const auto start = starts.find(s.index);
        if (start == starts.end()) {
            continue;
        }
        const auto next = std::next(start);
        sample_window w;
        w.from_ns = start->second;
        w.to_ns = next == starts.end() ? std::numeric_limits<std::int64_t>::max() : next->second;
        const auto p = first_progress.find(s.index);
        w.origin_ns = p == first_progress.end() ? w.from_ns : p->second;
        w.score = s.score;
        s.sensors = sensors_in_window(samples, status, w, interval_s);
    }
}

} // namespace kestrix::results
