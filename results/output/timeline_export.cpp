#include "output/timeline_export.hpp"

#include "capture/score_timeline.hpp"
#include "output/exporters.hpp"
#include "output/sensor_export.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace kestrix::results {
namespace {

using nlohmann::json;

std::string coord(double v) {
    return fixed(v, 1);
}

std::string drift_text(const score_timeline& t) {
    if (!t.summary.drift) {
        return "drift n/a: " + t.summary.drift_unavailable.value_or("not known");
    }
    std::string s = "drift " + fixed(*t.summary.drift, 3);
    if (t.summary.drift_relative_precision) {
        s += " (\u00b1" + fixed(*t.summary.drift_relative_precision * 100, 1) + " %)";
    }
    if (const auto note = drift_note(t.summary); !note.empty()) {
        s += ": " + note;
    }
    return s;
}

int step_decimals(double step) {
    return step == std::floor(step) ? 0 : 1;
}

void timeline_chart(markup& m, const record& rec, const record_view& view) {
    std::vector<const sub_run*> runs;
    double max_t = 0, max_v = 0, phase = 0;
    for (const auto& s : rec.sub_runs) {
        if (!s.timeline || s.timeline->points.empty()) {
            continue;
        }
        runs.push_back(&s);
        max_t = std::max(max_t, s.timeline->timed_s);
        if (s.timeline->summary.drift) {
            phase = std::max(phase, s.timeline->timed_s);
        }
        for (const auto& p : s.timeline->points) {
            max_v = std::max(max_v, p.mgups);
        }
    }
    if (runs.empty()) {
        return;
    }
    const double w = 860, h = 300 + 16 * static_cast<double>(runs.size()), left = 70, right = 20,
                 top = 50, plot_h = 200, plot_w = w - left - right;
    const double y_step = tick_step(max_v * 1.05);
    const double y_top = max_v > 0 ? std::ceil(max_v * 1.05 / y_step) * y_step : 1;
    const double x_step = tick_step(max_t);
    const double x_top = max_t > 0 ? std::ceil(max_t / x_step) * x_step : 1;
    // A record edited by hand may hold any number: no axis of a thousand ticks, none endless.
    if (!(y_step > 0 && x_step > 0 && std::isfinite(y_top) && std::isfinite(x_top) &&
          y_top / y_step < 100 && x_top / x_step < 100)) {
        return;
    }
    auto X = [&](double t) { return left + t / x_top * plot_w; };
    auto Y = [&](double v) { return top + plot_h - v / y_top * plot_h; };
    const std::string what = "score over time";
    m.open("svg", {{"class", "chart"},
                   {"width", coord(w)},
                   {"height", coord(h)},
                   {"viewBox", "0 0 " + coord(w) + " " + coord(h)},
                   {"role", "img"}});
    m.element("title", {}, what + ": " + view.name + ": " + view.title);
    m.element("text", {{"x", coord(left)}, {"y", "20"}, {"class", "ctitle"}}, what);
    m.element("text", {{"x", coord(left)}, {"y", "38"}, {"class", "csub"}},
              view.name + ": " + view.title);
    // The two tenths that drift compares.
    if (phase >= drift_min_phase_s) {
        for (const auto& [from, to, name] :
             {std::tuple{drift_skip_s, drift_skip_s + phase / 10, "first tenth after 2 s"},
              std::tuple{phase - phase / 10, phase, "last tenth"}}) {
            m.open("rect", {{"x", coord(X(from))},
                            {"y", coord(top)},
                            {"width", coord(X(to) - X(from))},
                            {"height", coord(plot_h)},
                            {"class", "drift"}});
            m.element("title", {}, std::string(name) + ": drift compares their mean rates");
            m.close("rect");
        }
    }
    for (double v = 0; v <= y_top + y_step * 1e-9; v += y_step) {
        m.leaf("line", {{"x1", coord(left)},
                        {"x2", coord(left + plot_w)},
                        {"y1", coord(Y(v))},
                        {"y2", coord(Y(v))},
                        {"class", "grid"}});
        m.element("text", {{"x", coord(left - 6)}, {"y", coord(Y(v) + 4)}, {"text-anchor", "end"}},
                  fixed(v, step_decimals(y_step)));
    }
    for (double t = 0; t <= x_top + x_step * 1e-9; t += x_step) {
        m.element("text",
                  {{"x", coord(X(t))}, {"y", coord(top + plot_h + 18)}, {"text-anchor", "middle"}},
                  fixed(t, step_decimals(x_step)));
    }
    m.element("text",
              {{"x", coord(left + plot_w / 2)},
               {"y", coord(top + plot_h + 36)},
               {"text-anchor", "middle"}},
              "seconds of the timed phase");
    const std::string mid = coord(top + plot_h / 2);
    m.element("text",
              {{"x", "16"},
               {"y", mid},
               {"transform", "rotate(-90 16 " + mid + ")"},
               {"text-anchor", "middle"}},
              "MGups");
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto& t = *runs[i]->timeline;
        std::string pts;
        for (const auto& p : t.points) {
            pts += coord(X(p.t_s)) + "," + coord(Y(p.mgups)) + " ";
        }
        m.open("polyline", {{"points", pts},
                            {"fill", "none"},
                            {"stroke", run_colour(i)},
                            {"stroke-width", "1.5"},
                            {"class", "timeline"}});
        m.element("title", {}, "run " + std::to_string(runs[i]->index) + ": " + drift_text(t));
        m.close("polyline");
        run_legend_entry(m, left, top + plot_h + 56 + 16 * static_cast<double>(i), i,
                         !drift_note(t.summary).empty(),
                         "run " + std::to_string(runs[i]->index) + " (" + runs[i]->point +
                             "): " + drift_text(t));
    }
    m.close("svg");
}

} // namespace

std::string run_colour(std::size_t i) {
    static const char* const palette[] = {"#3b6ea8", "#d1743a", "#4a9a5b",
                                          "#b04a6f", "#7a62b8", "#8c7a3c"};
    return palette[i % (sizeof palette / sizeof palette[0])];
}

void run_legend_entry(markup& m, double x, double y, std::size_t i, bool fell,
                      const std::string& text) {
    m.leaf("rect", {{"x", coord(x)},
                    {"y", coord(y - 9)},
                    {"width", "12"},
                    {"height", "10"},
                    {"fill", run_colour(i)}});
    m.open("text", {{"x", coord(x + 16)}, {"y", coord(y)}, {"class", fell ? "fell" : "csub"}});
    if (fell) {
        m.character(9888).text(" ");
    }
    m.text(text);
    m.close("text");
}

std::string series_missing_reason(const record& r, const char* import_lacks,
                                  const char* otherwise) {
    if (r.source == "import") {
        return std::string("an imported log has no ") + import_lacks;
    }
    if (r.migrated_from) {
        return "a record of schema version " + std::to_string(*r.migrated_from) + " keeps none";
    }
    return otherwise;
}

std::string no_timeline_reason(const record& r) {
    return series_missing_reason(r, "arrival times", "not recorded");
}

std::string timeline_summary_lines(const std::vector<record>& records,
                                   const std::vector<record_view>& views) {
    std::string out;
    for (std::size_t i = 0; i < records.size() && i < views.size(); ++i) {
        for (const auto& s : records[i].sub_runs) {
            out +=
                "- " + views[i].name + " run " + std::to_string(s.index) + " (" + s.point + "): ";
            if (!s.timeline) {
                out += "drift n/a: " + no_timeline_reason(records[i]) + "\n";
                continue;
            }
            const auto& t = *s.timeline;
            if (!t.points.empty()) {
                out += cell(t.summary.mean_mgups) + " MGups mean, " + cell(t.summary.min_mgups) +
                       " to " + cell(t.summary.max_mgups) + " per interval over " +
                       fixed(t.timed_s, 1) + " s (" + std::to_string(t.intervals) + " of " +
                       fixed(t.interval_s, 1) + " s, ";
                out += t.method == "iterations" || !t.relative_precision
                           ? std::string("steps counted")
                           : "each within \u00b1" + fixed(*t.relative_precision * 100, 1) + " %";
                out += "); ";
            }
            out += drift_text(t) + "\n";
        }
    }
    return out.empty() ? out : "\n### score over time\n\n" + out;
}

std::string series_csv(const std::vector<record>& records, const std::vector<record_view>& views) {
    std::string out = "record,sub_run,point,series,t_s,value\n";
    for (std::size_t i = 0; i < records.size() && i < views.size(); ++i) {
        for (const auto& s : records[i].sub_runs) {
            const std::string head = csv_field(views[i].name) + "," + std::to_string(s.index) +
                                     "," + csv_field(s.point) + ",";
            if (s.timeline) {
                for (const auto& p : s.timeline->points) {
                    out += head + "mgups," + fixed(p.t_s, 3) + "," + fixed(p.mgups, 3) + "\n";
                }
            }
            out += sensor_csv_rows(s, head);
        }
    }
    return out;
}

std::string series_json(const std::vector<record>& records, const std::vector<record_view>& views) {
    json all = json::array();
    for (std::size_t i = 0; i < records.size() && i < views.size(); ++i) {
        for (const auto& s : records[i].sub_runs) {
            json j = {{"record", views[i].name},
                      {"sub_run", s.index},
                      {"point", s.point},
                      {"timeline", s.timeline ? json(*s.timeline) : json(nullptr)}};
            if (!s.timeline) {
                j["unavailable"] = no_timeline_reason(records[i]);
            }
            j["sensors"] = s.sensors ? json(*s.sensors) : json(nullptr);
            if (!s.sensors) {
                j["sensors_unavailable"] = no_sensors_reason(records[i]);
            }
            all.push_back(j);
        }
    }
    return all.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

namespace {

// Whether some sub-run of the group knows a value of this per-sub-run column.
bool group_knows(const compare_group& g, std::vector<std::optional<double>> point_stats::*column) {
    for (const auto& row : g.rows) {
        for (const auto& v : row.stats->*column) {
            if (v) {
                return true;
            }
        }
    }
    return false;
}

std::string column_text(const std::vector<std::optional<double>>& values, const char* sep) {
    std::string s;
    for (std::size_t i = 0; i < values.size(); ++i) {
        s += (i ? sep : "") + cell(values[i], 3);
    }
    return s;
}

} // namespace

bool group_has_drift(const compare_group& g) {
    return group_knows(g, &point_stats::drifts);
}

bool group_has_efficiency(const compare_group& g) {
    return group_knows(g, &point_stats::mgups_per_w);
}

std::string efficiencies_text(const point_stats& p, const char* sep) {
    return column_text(p.mgups_per_w, sep);
}

std::string drifts_text(const point_stats& p, const char* sep) {
    return column_text(p.drifts, sep);
}

void timeline_charts(markup& body, const std::vector<record>& records,
                     const std::vector<record_view>& views) {
    // Records with sensor series draw their score among the sensors' small multiples.
    bool any = false;
    for (const auto& r : records) {
        for (const auto& s : r.sub_runs) {
            any = any || (s.timeline && !s.timeline->points.empty() && !has_sensor_series(r));
        }
    }
    if (!any) {
        return;
    }
    body.element("h2", {}, "Score over time");
    body.open("p", {{"class", "note"}})
        .text("Each sub-run's rate per interval, from its progress lines as they arrived. Drift: "
              "the mean rate over the last tenth of the timed phase against the first tenth "
              "after its first 2 s (shaded); below " +
              fixed(drift_mark_below, 2) + " the sub-run is marked (")
        .character(9888)
        .text(").")
        .close("p");
    for (std::size_t i = 0; i < records.size() && i < views.size(); ++i) {
        if (!has_sensor_series(records[i])) {
            timeline_chart(body, records[i], views[i]);
        }
    }
}

} // namespace kestrix::results
