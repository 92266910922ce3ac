#include "output/sensor_export.hpp"

#include "capture/score_timeline.hpp"
#include "output/exporters.hpp"
#include "output/timeline_export.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrix::results {
namespace {

std::string xy(double v) {
    return fixed(v, 1);
}

std::string missing(const series_origin& o) {
    return "n/a: " +
           o.unavailable.value_or(o.source ? "no reading during the sub-run" : "no source");
}

std::string clock_text(const sub_run_sensors& s) {
    if (!s.summary.clock_mean_mhz) {
        return "clock " + missing(s.clock.origin);
    }
    return "clock " + fixed(*s.summary.clock_mean_mhz / 1000, 2) + " GHz mean, " +
           fixed(s.summary.clock_max_mhz.value_or(0) / 1000, 2) + " max (" + s.clock.label + ")";
}

std::string temperature_text(const sub_run_sensors& s) {
    if (!s.summary.temperature_max_c) {
        return "temperature " + missing(s.temperature_c.origin);
    }
    return "temperature " + fixed(*s.summary.temperature_max_c, 1) + " \u00b0C max";
}

std::string power_text(const sub_run_sensors& s) {
    if (!s.summary.power_mean_w) {
        return "power " + missing(s.power_w.origin) + "; MGups/W n/a: no power";
    }
    std::string out = "power " + fixed(*s.summary.power_mean_w, 1) + " W mean, " +
                      fixed(s.summary.energy_j.value_or(0), 0) + " J; ";
    out += s.summary.mgups_per_w ? fixed(*s.summary.mgups_per_w, 3) + " MGups/W"
                                 : std::string("MGups/W n/a: no score");
    return out;
}

std::string throttle_text(const sub_run_sensors& s) {
    if (!s.summary.throttle_events) {
        return "throttle " + missing(s.throttle_events.origin);
    }
    return "throttle " + std::to_string(*s.summary.throttle_events) + " events";
}

std::string drift_part(const sub_run& s) {
    if (!s.timeline) {
        return "drift n/a: no score over time";
    }
    if (!s.timeline->summary.drift) {
        return "drift n/a: " + s.timeline->summary.drift_unavailable.value_or("not known");
    }
    return "drift " + fixed(*s.timeline->summary.drift, 3);
}

// One panel of the small multiples: its lines over the shared time axis.
struct panel_series {
    std::vector<std::pair<double, double>> points;
    std::vector<std::pair<double, double>> band_low, band_high; // the clock's spread
    std::size_t run = 0;
    std::string title;
};

struct panel {
    std::string name, unit;
    std::vector<panel_series> series;
    std::string absent; // shown instead of lines
};

struct axis {
    double from = 0, to = 1, step = 1;
};

std::optional<axis> value_axis(double lo, double hi) {
    lo = std::min(lo, 0.0);
    const double step = tick_step((hi - lo) * 1.05);
    if (!(step > 0) || !std::isfinite(hi) || !std::isfinite(lo)) {
        return std::nullopt;
    }
    axis a{std::floor(lo / step) * step, std::ceil(hi * 1.05 / step) * step, step};
    if (a.to <= a.from) {
        a.to = a.from + step;
    }
    if ((a.to - a.from) / step > 100) {
        return std::nullopt;
    }
    return a;
}

void sensor_record_chart(markup& m, const record& rec, const record_view& view) {
    std::vector<panel> panels(4);
    panels[0] = {"score", "MGups", {}, ""};
    panels[1] = {"clock", "MHz", {}, ""};
    panels[2] = {"temperature", "\u00b0C", {}, ""};
    panels[3] = {"power", "W", {}, ""};
    std::vector<double> throttled; // times a throttle counter rose
    double t_min = 0, t_max = 0, phase = 0;
    std::size_t run = 0;
    for (const auto& s : rec.sub_runs) {
        if (!s.sensors && !s.timeline) {
            continue;
        }
        const std::string name = "run " + std::to_string(s.index) + " (" + s.point + ")";
        auto add = [&](panel& p, panel_series ps) {
            for (const auto& [t, v] : ps.points) {
                t_min = std::min(t_min, t);
                t_max = std::max(t_max, t);
            }
            ps.run = run;
            ps.title = name;
            if (!ps.points.empty()) {
                p.series.push_back(std::move(ps));
            }
        };
        if (s.timeline) {
            panel_series ps;
            for (const auto& p : s.timeline->points) {
                ps.points.emplace_back(p.t_s, p.mgups);
            }
            add(panels[0], std::move(ps));
            if (s.timeline->summary.drift) {
                phase = std::max(phase, s.timeline->timed_s);
            }
        }
        if (s.sensors) {
            const auto& z = *s.sensors;
            panel_series clock;
            for (const auto& p : z.clock.points) {
                clock.points.emplace_back(p.t_s, p.mean_mhz);
                clock.band_low.emplace_back(p.t_s, p.min_mhz);
                clock.band_high.emplace_back(p.t_s, p.max_mhz);
            }
            if (!z.clock.label.empty()) {
                panels[1].unit = "MHz, " + z.clock.label;
            }
            add(panels[1], std::move(clock));
            for (const auto& [at, from] :
                 {std::pair{2u, &z.temperature_c}, std::pair{3u, &z.power_w}}) {
                panel_series ps;
                for (const auto& p : from->points) {
                    ps.points.emplace_back(p.t_s, p.value);
                }
                add(panels[at], std::move(ps));
            }
            double last = 0;
            for (const auto& p : z.throttle_events.points) {
                if (p.value > last) {
                    throttled.push_back(p.t_s);
                }
                last = p.value;
            }
            for (const auto& [at, origin] :
                 {std::pair{1u, &z.clock.origin}, std::pair{2u, &z.temperature_c.origin},
                  std::pair{3u, &z.power_w.origin}}) {
                if (panels[at].absent.empty()) {
                    panels[at].absent = missing(*origin);
                }
            }
        }
        ++run;
    }
    const double t_step = tick_step(t_max - t_min);
    const double x_from = std::floor(t_min / t_step) * t_step;
    const double x_to = std::max(std::ceil(t_max / t_step) * t_step, x_from + t_step);
    if (!(t_step > 0) || !std::isfinite(x_from) || !std::isfinite(x_to) ||
        (x_to - x_from) / t_step > 100) {
        return;
    }
    const double w = 860, left = 70, right = 20, top = 70, panel_h = 110, gap = 34,
                 plot_w = w - left - right;
    const double h = top + 4 * (panel_h + gap) + 30 + 16 * static_cast<double>(run);
    auto X = [&](double t) { return left + (t - x_from) / (x_to - x_from) * plot_w; };
    const std::string what = "score and sensors over time";
    m.open("svg", {{"class", "chart sensors"},
                   {"width", xy(w)},
                   {"height", xy(h)},
                   {"viewBox", "0 0 " + xy(w) + " " + xy(h)},
                   {"role", "img"}});
    m.element("title", {}, what + ": " + view.name + ": " + view.title);
    m.element("text", {{"x", xy(left)}, {"y", "20"}, {"class", "ctitle"}}, what);
    m.element("text", {{"x", xy(left)}, {"y", "38"}, {"class", "csub"}},
              view.name + ": " + view.title);
    for (std::size_t pi = 0; pi < panels.size(); ++pi) {
        const panel& p = panels[pi];
        const double y0 = top + static_cast<double>(pi) * (panel_h + gap);
        m.element("text", {{"x", xy(left)}, {"y", xy(y0 - 4)}, {"class", "csub"}},
                  p.name + " (" + p.unit + ")");
        m.leaf("rect", {{"x", xy(left)},
                        {"y", xy(y0)},
                        {"width", xy(plot_w)},
                        {"height", xy(panel_h)},
                        {"class", "panel"}});
        if (pi == 0 && phase >= drift_min_phase_s) {
            for (const auto& [from, to] : {std::pair{drift_skip_s, drift_skip_s + phase / 10},
                                           std::pair{phase - phase / 10, phase}}) {
                m.open("rect", {{"x", xy(X(from))},
                                {"y", xy(y0)},
                                {"width", xy(X(to) - X(from))},
                                {"height", xy(panel_h)},
                                {"class", "drift"}});
                m.element("title", {}, "drift compares the mean rates of the shaded tenths");
                m.close("rect");
            }
        }
        for (const double t : throttled) {
            m.open("line", {{"x1", xy(X(t))},
                            {"x2", xy(X(t))},
                            {"y1", xy(y0)},
                            {"y2", xy(y0 + panel_h)},
                            {"class", "throttle"}});
            m.element("title", {}, "throttled");
            m.close("line");
        }
        if (p.series.empty()) {
            m.element("text",
                      {{"x", xy(left + plot_w / 2)},
                       {"y", xy(y0 + panel_h / 2)},
                       {"text-anchor", "middle"},
                       {"class", "csub"}},
                      p.absent.empty() ? "n/a" : p.absent);
            continue;
        }
        double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
        for (const auto& s : p.series) {
            for (const auto* pts : {&s.points, &s.band_low, &s.band_high}) {
                for (const auto& [t, v] : *pts) {
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
            }
        }
        const auto a = value_axis(lo, hi);
        if (!a) {
            continue;
        }
        auto Y = [&](double v) {
            return y0 + panel_h - (v - a->from) / (a->to - a->from) * panel_h;
        };
        for (double v = a->from; v <= a->to + a->step * 1e-9; v += a->step) {
            m.leaf("line", {{"x1", xy(left)},
                            {"x2", xy(left + plot_w)},
                            {"y1", xy(Y(v))},
                            {"y2", xy(Y(v))},
                            {"class", "grid"}});
            m.element("text", {{"x", xy(left - 6)}, {"y", xy(Y(v) + 4)}, {"text-anchor", "end"}},
                      fixed(v, a->step == std::floor(a->step) ? 0 : 1));
        }
        for (const auto& s : p.series) {
            if (!s.band_low.empty()) {
                std::string band;
                for (const auto& [t, v] : s.band_high) {
                    band += xy(X(t)) + "," + xy(Y(v)) + " ";
                }
                for (auto it = s.band_low.rbegin(); it != s.band_low.rend(); ++it) {
                    band += xy(X(it->first)) + "," + xy(Y(it->second)) + " ";
                }
                m.open("polygon", {{"points", band},
                                   {"fill", run_colour(s.run)},
                                   {"fill-opacity", "0.15"},
                                   {"stroke", "none"}});
                m.element("title", {}, s.title + ": lowest to highest processor");
                m.close("polygon");
            }
            std::string pts;
            for (const auto& [t, v] : s.points) {
                pts += xy(X(t)) + "," + xy(Y(v)) + " ";
            }
            m.open("polyline", {{"points", pts},
                                {"fill", "none"},
                                {"stroke", run_colour(s.run)},
                                {"stroke-width", "1.5"},
                                {"class", "series"}});
            m.element("title", {}, s.title + ": " + p.name);
            m.close("polyline");
        }
    }
    const double axis_y = top + 4 * (panel_h + gap) - gap + 18;
    for (double t = x_from; t <= x_to + t_step * 1e-9; t += t_step) {
        m.element("text", {{"x", xy(X(t))}, {"y", xy(axis_y)}, {"text-anchor", "middle"}},
                  fixed(t, t_step == std::floor(t_step) ? 0 : 1));
    }
    m.element("text",
              {{"x", xy(left + plot_w / 2)}, {"y", xy(axis_y + 16)}, {"text-anchor", "middle"}},
              "seconds of the timed phase (before 0: setting up)");
    std::size_t i = 0;
    for (const auto& s : rec.sub_runs) {
        if (!s.sensors && !s.timeline) {
            continue;
        }
        const bool fell = s.timeline && !drift_note(s.timeline->summary).empty();
        run_legend_entry(m, left, axis_y + 34 + 16 * static_cast<double>(i), i, fell,
                         "run " + std::to_string(s.index) + " (" + s.point + "): " + drift_part(s) +
                             (fell ? ": " + drift_note(s.timeline->summary) : ""));
        ++i;
    }
    m.close("svg");
}

} // namespace

std::string no_sensors_reason(const record& r) {
    return series_missing_reason(r, "sensor samples", "not sampled (--sample-interval 0)");
}

std::string sensor_summary_lines(const std::vector<record>& records,
                                 const std::vector<record_view>& views) {
    std::string out;
    bool any_run = false;
    for (std::size_t i = 0; i < records.size() && i < views.size(); ++i) {
        any_run = any_run || records[i].source == "run";
        for (const auto& s : records[i].sub_runs) {
            out +=
                "- " + views[i].name + " run " + std::to_string(s.index) + " (" + s.point + "): ";
            if (!s.sensors) {
                out +=
                    "sensors n/a: " + no_sensors_reason(records[i]) + "; " + drift_part(s) + "\n";
                continue;
            }
            const auto& z = *s.sensors;
            out += clock_text(z) + "; " + temperature_text(z) + "; " + power_text(z) + "; " +
                   throttle_text(z) + "; " + drift_part(s) + "\n";
        }
    }
    return any_run && !out.empty() ? "\n### sensors\n\n" + out : std::string();
}

std::string sensor_csv_rows(const sub_run& s, const std::string& head) {
    if (!s.sensors) {
        return {};
    }
    std::string out;
    const auto& z = *s.sensors;
    for (const auto& p : z.clock.points) {
        const std::string t = fixed(p.t_s, 3) + ",";
        out += head + "clock_min_mhz," + t + fixed(p.min_mhz, 1) + "\n";
        out += head + "clock_mean_mhz," + t + fixed(p.mean_mhz, 1) + "\n";
        out += head + "clock_max_mhz," + t + fixed(p.max_mhz, 1) + "\n";
    }
    for (const auto& [name, series] :
         {std::pair{"temperature_c", &z.temperature_c}, std::pair{"power_w", &z.power_w},
          std::pair{"throttle_events", &z.throttle_events}}) {
        for (const auto& p : series->points) {
            out += head + name + "," + fixed(p.t_s, 3) + "," + fixed(p.value, 3) + "\n";
        }
    }
    return out;
}

bool has_sensor_series(const record& r) {
    for (const auto& s : r.sub_runs) {
        if (s.sensors) {
            return true;
        }
    }
    return false;
}

void sensor_charts(markup& body, const std::vector<record>& records,
                   const std::vector<record_view>& views) {
    bool any = false;
    for (const auto& r : records) {
        any = any || has_sensor_series(r);
    }
    if (!any) {
        return;
    }
    body.element("h2", {}, "Score and sensors over time");
    body.open("p", {{"class", "note"}})
        .text("Per record, on one time axis: the score per interval, the clock (mean over the "
              "logical processors, shaded from the lowest to the highest), the hottest package "
              "sensor and the package power. Red lines: a throttle counter rose. A panel without "
              "a series says why.")
        .close("p");
    for (std::size_t i = 0; i < records.size() && i < views.size(); ++i) {
        if (has_sensor_series(records[i])) {
            sensor_record_chart(body, records[i], views[i]);
        }
    }
}

} // namespace kestrix::results
