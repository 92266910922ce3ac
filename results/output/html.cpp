#include "output/exporters.hpp"
#include "output/markup.hpp"
#include "output/sensor_export.hpp"
#include "output/timeline_export.hpp"
#include "report_css.hpp"
#include "report_html.hpp"

#include "analysis/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrix::results {
namespace {

const char* const palette[] = {"#3b6ea8", "#d1743a", "#4a9a5b", "#b04a6f", "#7a62b8", "#8c7a3c"};

std::string colour(std::size_t i) {
    return palette[i % (sizeof palette / sizeof palette[0])];
}

std::string num(double v) {
    return fixed(v, 1);
}

std::string known_text(const std::optional<std::string>& v) {
    return v.value_or("not known");
}
std::string known_text(const std::optional<std::uint64_t>& v) {
    return v ? std::to_string(*v) : std::string("not known");
}
std::string known_text(const std::optional<bool>& v) {
    return v ? (*v ? "true" : "false") : "not known";
}

std::optional<std::string> gib(const std::optional<std::uint64_t>& bytes) {
    if (!bytes) {
        return std::nullopt;
    }
    return fixed(static_cast<double>(*bytes) / (1024.0 * 1024.0 * 1024.0), 2) + " GiB";
}

struct frame {
    double w = 860, h = 340, left = 70, right = 20, top = 50, bottom = 60;
    double plot_w() const { return w - left - right; }
    double plot_h() const { return h - top - bottom; }
};

// The title names every record's processor and settings, one line each, in its colour.
void svg_open(markup& m, frame& f, const std::vector<std::string>& lines, const std::string& what) {
    f.top = 34 + 16 * static_cast<double>(lines.size());
    f.h += 16 * static_cast<double>(lines.size());
    std::string all;
    for (const auto& l : lines) {
        all += (all.empty() ? "" : "; ") + l;
    }
    m.open("svg", {{"class", "chart"},
                   {"width", num(f.w)},
                   {"height", num(f.h)},
                   {"viewBox", "0 0 " + num(f.w) + " " + num(f.h)},
                   {"role", "img"}});
    m.element("title", {}, what + ": " + all);
    m.element("text", {{"x", num(f.left)}, {"y", "20"}, {"class", "ctitle"}}, what);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        m.element("text",
                  {{"x", num(f.left)},
                   {"y", num(38 + 16 * static_cast<double>(i))},
                   {"class", "csub"},
                   {"fill", colour(i)}},
                  lines[i]);
    }
}

void y_axis(markup& m, const frame& f, double top_value, const std::string& unit) {
    const double step = tick_step(top_value);
    for (double v = 0; v <= top_value + step * 1e-9; v += step) {
        const double y = f.top + f.plot_h() - v / top_value * f.plot_h();
        m.leaf("line", {{"x1", num(f.left)},
                        {"x2", num(f.left + f.plot_w())},
                        {"y1", num(y)},
                        {"y2", num(y)},
                        {"class", "grid"}});
        m.element("text", {{"x", num(f.left - 6)}, {"y", num(y + 4)}, {"text-anchor", "end"}},
                  fixed(v, step < 1 ? 1 : 0));
    }
    const std::string mid = num(f.top + f.plot_h() / 2);
    m.element("text",
              {{"x", "16"},
               {"y", mid},
               {"transform", "rotate(-90 16 " + mid + ")"},
               {"text-anchor", "middle"}},
              unit);
}

void legend(markup& m, const frame& f, const std::vector<std::string>& names, bool with_ideal) {
    double x = f.left;
    const double y = f.h - 14;
    for (std::size_t i = 0; i < names.size(); ++i) {
        m.leaf("rect", {{"x", num(x)},
                        {"y", num(y - 9)},
                        {"width", "12"},
                        {"height", "10"},
                        {"fill", colour(i)}});
        m.element("text", {{"x", num(x + 16)}, {"y", num(y)}}, names[i]);
        x += 30 + 7.0 * static_cast<double>(names[i].size());
    }
    if (with_ideal) {
        m.leaf("line", {{"x1", num(x)},
                        {"x2", num(x + 14)},
                        {"y1", num(y - 4)},
                        {"y2", num(y - 4)},
                        {"class", "ideal"}});
        m.element("text", {{"x", num(x + 18)}, {"y", num(y)}}, "ideal linear scaling");
    }
}

std::vector<std::string> chart_titles(const compare_group& g) {
    std::vector<std::string> t;
    for (const auto* r : g.records) {
        t.push_back(r->name + ": " + r->title);
    }
    return t;
}

std::vector<std::string> record_names(const compare_group& g) {
    std::vector<std::string> names;
    for (const auto* r : g.records) {
        names.push_back(r->name);
    }
    return names;
}

// Threads sweep: one scaling line per record and the ideal line from its first point.
void scaling_chart(markup& m, const compare_group& g) {
    frame f;
    double max_t = 1, max_v = 0;
    struct pt {
        double t, v;
    };
    std::vector<std::vector<pt>> lines;
    for (const auto* r : g.records) {
        std::vector<pt> line;
        for (const auto& p : r->points) {
            char* end = nullptr;
            const double t = std::strtod(p.point.c_str(), &end);
            if (end == p.point.c_str() || !p.mean || !(t > 0) || !std::isfinite(t)) {
                continue;
            }
            line.push_back({t, *p.mean});
        }
        std::sort(line.begin(), line.end(), [](const pt& a, const pt& b) { return a.t < b.t; });
        for (const auto& q : line) {
            max_t = std::max(max_t, q.t);
            max_v = std::max(max_v, q.v);
        }
        lines.push_back(line);
    }
    // The ideal line may run far above the measured ones; it is drawn up to the largest count.
    for (const auto& line : lines) {
        if (!line.empty()) {
            max_v = std::max(max_v, line.front().v / line.front().t * max_t);
        }
    }
    const double top_value =
        max_v > 0 && std::isfinite(max_v)
            ? std::ceil(max_v / tick_step(max_v * 1.05)) * tick_step(max_v * 1.05)
            : 1;
    auto X = [&](double t) {
        return f.left + (max_t > 1 ? (t - 1) / (max_t - 1) : 0.5) * f.plot_w();
    };
    auto Y = [&](double v) { return f.top + f.plot_h() - v / top_value * f.plot_h(); };
    svg_open(m, f, chart_titles(g), "score per thread count");
    y_axis(m, f, top_value, "MGups");
    // At most about ten labels, whatever the largest count.
    const double label_step = std::max(1.0, std::floor(max_t / 10));
    for (int i = 0; i <= 10 && 1 + label_step * i <= max_t; ++i) {
        const double t = 1 + label_step * i;
        m.element(
            "text",
            {{"x", num(X(t))}, {"y", num(f.top + f.plot_h() + 18)}, {"text-anchor", "middle"}},
            fixed(t, 0));
    }
    m.element("text",
              {{"x", num(f.left + f.plot_w() / 2)},
               {"y", num(f.top + f.plot_h() + 36)},
               {"text-anchor", "middle"}},
              "threads");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& line = lines[i];
        if (line.empty()) {
            continue;
        }
        const double per = line.front().v / line.front().t;
        m.leaf("line", {{"x1", num(X(line.front().t))},
                        {"y1", num(Y(line.front().v))},
                        {"x2", num(X(max_t))},
                        {"y2", num(Y(per * max_t))},
                        {"class", "ideal"},
                        {"stroke", colour(i)}});
        std::string pts;
        for (const auto& q : line) {
            pts += num(X(q.t)) + "," + num(Y(q.v)) + " ";
        }
        m.leaf("polyline", {{"points", pts},
                            {"fill", "none"},
                            {"stroke", colour(i)},
                            {"stroke-width", "2.5"},
                            {"class", "series"}});
        for (const auto& q : line) {
            m.open("circle",
                   {{"cx", num(X(q.t))}, {"cy", num(Y(q.v))}, {"r", "3.5"}, {"fill", colour(i)}});
            m.element("title", {},
                      fixed(q.t, 0) + (q.t == 1 ? " thread: " : " threads: ") + fixed(q.v, 2) +
                          " MGups");
            m.close("circle");
        }
    }
    legend(m, f, record_names(g), true);
    m.close("svg");
}

// Other sweeps: grouped bars at the mean with worst-to-best error bars.
void bar_chart(markup& m, const compare_group& g) {
    std::vector<std::string> points;
    for (const auto& row : g.rows) {
        if (std::find(points.begin(), points.end(), row.point) == points.end()) {
            points.push_back(row.point);
        }
    }
    frame f;
    const double per_group = 24.0 * static_cast<double>(g.records.size()) + 30;
    f.w = std::max(f.w, f.left + f.right + per_group * static_cast<double>(points.size()));
    double max_v = 0;
    for (const auto& row : g.rows) {
        if (row.stats->max && std::isfinite(*row.stats->max)) {
            max_v = std::max(max_v, *row.stats->max);
        }
    }
    const double step = tick_step(max_v * 1.05);
    const double top_value = max_v > 0 ? std::ceil(max_v * 1.05 / step) * step : 1;
    auto Y = [&](double v) { return f.top + f.plot_h() - v / top_value * f.plot_h(); };
    svg_open(m, f, chart_titles(g),
             g.variable == "none" ? std::string("score of the repeated runs")
                                  : "score per " + g.variable);
    y_axis(m, f, top_value, "MGups");
    const double slot = f.plot_w() / static_cast<double>(std::max<std::size_t>(points.size(), 1));
    const double bar = std::min(40.0, (slot - 16) / static_cast<double>(g.records.size()));
    for (std::size_t pi = 0; pi < points.size(); ++pi) {
        const double x0 = f.left + slot * static_cast<double>(pi) +
                          (slot - bar * static_cast<double>(g.records.size())) / 2;
        m.element("text",
                  {{"x", num(f.left + slot * (static_cast<double>(pi) + 0.5))},
                   {"y", num(f.top + f.plot_h() + 18)},
                   {"text-anchor", "middle"}},
                  points[pi]);
        for (const auto& row : g.rows) {
            if (row.point != points[pi] || !row.stats->mean) {
                continue;
            }
            const auto& p = *row.stats;
            const double x = x0 + bar * static_cast<double>(row.record);
            m.open("rect", {{"class", "bar"},
                            {"x", num(x + 1)},
                            {"y", num(Y(*p.mean))},
                            {"width", num(bar - 2)},
                            {"height", num(Y(0) - Y(*p.mean))},
                            {"fill", colour(row.record)}});
            m.element("title", {},
                      g.records[row.record]->name + " " + p.point + ": mean " + fixed(*p.mean, 2) +
                          " MGups, " + std::to_string(p.n) + " sub-runs");
            m.close("rect");
            if (p.min && p.max && *p.max > *p.min) {
                const double cx = x + bar / 2;
                // Appended piece by piece: g++ 12 warns (-Wrestrict) on "literal" + temporaries.
                std::string d = "M";
                for (const std::string& piece :
                     {num(cx), std::string(" "), num(Y(*p.min)), std::string("V"), num(Y(*p.max)),
                      std::string("M"), num(cx - 5), std::string(" "), num(Y(*p.min)),
                      std::string("h10M"), num(cx - 5), std::string(" "), num(Y(*p.max)),
                      std::string("h10")}) {
                    d += piece;
                }
                m.leaf("path", {{"class", "err"}, {"d", d}});
            }
        }
    }
    if (g.variable != "none") {
        m.element("text",
                  {{"x", num(f.left + f.plot_w() / 2)},
                   {"y", num(f.top + f.plot_h() + 36)},
                   {"text-anchor", "middle"}},
                  g.variable);
    }
    legend(m, f, record_names(g), false);
    m.close("svg");
}

std::string
joined_known(std::initializer_list<std::pair<const char*, std::optional<std::string>>> parts) {
    std::string out;
    for (const auto& [name, v] : parts) {
        if (v) {
            out += (out.empty() ? "" : ", ") + *v + (*name ? " " : "") + name;
        }
    }
    return out.empty() ? std::string("not known") : out;
}

std::optional<std::string> text_opt(const std::optional<std::uint64_t>& v) {
    return v ? std::optional<std::string>(std::to_string(*v)) : std::nullopt;
}
std::optional<std::string> text_opt(const std::optional<std::int64_t>& v) {
    return v ? std::optional<std::string>(std::to_string(*v)) : std::nullopt;
}

void system_table(markup& m, const record& rec, const record_view& v) {
    const system_block& sys = rec.system;
    const settings& o = rec.options.resolved;
    auto row = [&m](const std::string& k, const std::string& val) {
        m.open("tr").element("th", {}, k).element("td", {}, val).close("tr");
    };
    m.open("div", {{"class", "system"}}).element("h3", {}, v.name).open("table");
    row("processor", known_text(sys.processor.brand));
    row("vendor, family, model (timer rule)", joined_known({{"", sys.timer_rule.vendor},
                                                            {"", text_opt(sys.timer_rule.family)},
                                                            {"", text_opt(sys.timer_rule.model)}}));
    if (sys.facts) {
        for (const auto& [name, fact] : *sys.facts) {
            if (!fact.value.is_null()) {
                row(name, fact.value.is_string()
                              ? fact.value.get<std::string>()
                              : fact.value.dump(-1, ' ', false,
                                                nlohmann::json::error_handler_t::replace));
            }
        }
    }
    const auto& t = sys.topology;
    row("topology", joined_known({{"packages", text_opt(t.packages)},
                                  {"NUMA nodes", text_opt(t.numa_nodes)},
                                  {"LLCs", text_opt(t.last_level_caches)},
                                  {"cores", text_opt(t.cores)},
                                  {"logical", text_opt(t.logical_processors)},
                                  {"perf levels", text_opt(t.performance_levels)}}));
    row("memory", joined_known({{"total", gib(sys.memory_total_bytes)},
                                {"available", gib(sys.memory_available_bytes)}}));
    row("system", joined_known({{"", sys.os_name}, {"", sys.os_version}}));
    row("kernel", known_text(sys.kernel));
    row("host", known_text(sys.host));
    row("time (UTC)", known_text(sys.start_utc) + " to " + known_text(sys.end_utc));
    row("kestrix", known_text(rec.kestrix_version));
    const std::string threads = known_text(o.threads);
    row("settings", known_text(o.workload) + ", " + known_text(o.isa) + ", N = " +
                        known_text(o.size) + ", " + known_text(o.duration) + " s, " + threads +
                        (threads == "1" ? " thread (" : " threads (") + known_text(o.threading) +
                        "), large pages " + known_text(o.large_pages) + ", sweep " +
                        known_text(o.harness_var) + ", " + known_text(o.sub_runs) + " sub-runs");
    if (rec.options.given) {
        std::string given;
        for (const auto& a : *rec.options.given) {
            given += (given.empty() ? "" : " ") + a;
        }
        row("command line", given.empty() ? "(no options)" : given);
    }
    row("record",
        rec.source + (rec.complete ? "" : ", incomplete") +
            (rec.migrated_from ? ", read from schema version " + std::to_string(*rec.migrated_from)
                               : ""));
    if (!sys.note.empty()) {
        row("note", sys.note);
    }
    m.close("table").close("div");
}

void compare_table(markup& m, const compare_group& g) {
    m.open("table", {{"class", "cmp"}}).open("thead").open("tr");
    m.element("th", {}, g.variable);
    for (const char* h :
         {"record", "scores", "median", "mean", "sd", "cv", "ratio", "beyond spread"}) {
        m.element("th", {}, h);
    }
    m.close("tr").close("thead").open("tbody");
    const std::string noisy_title =
        "sub-runs vary by more than " + fixed(statistics::noisy_cv_percent, 1) + " %";
    for (const auto& row : g.rows) {
        const auto& p = *row.stats;
        if (p.noisy) {
            m.open("tr", {{"class", "noisy"}, {"title", noisy_title}});
        } else {
            m.open("tr");
        }
        m.element("td", {}, p.point).element("td", {}, g.records[row.record]->name);
        m.element("td", {}, scores_text(p, " "));
        m.element("td", {}, cell(p.median)).element("td", {}, cell(p.mean));
        m.element("td", {}, cell(p.sd));
        m.open("td").text(percent(p.cv_percent));
        if (p.noisy) {
            m.text(" ").character(9888);
        }
        m.close("td");
        m.element("td", {}, cell(row.ratio, 3));
        m.element("td", {}, row.record == 0 ? std::string() : yes_no(row.exceeds));
        m.close("tr");
    }
    m.close("tbody").close("table");
}

std::string fill(std::string_view page, std::string_view marker, const std::string& with) {
    const auto at = page.find(marker);
    if (at == std::string_view::npos) {
        return std::string(page);
    }
    return std::string(page.substr(0, at)) + with + std::string(page.substr(at + marker.size()));
}

} // namespace

std::string html_escape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string html_report(const std::vector<record>& records, const std::vector<record_view>& views,
                        const std::string& generated_utc, const std::vector<named_stress>& stress) {
    markup body;
    const std::string threshold = fixed(statistics::noisy_cv_percent, 1);
    body.open("p", {{"class", "note"}})
        .text(std::to_string(records.size() + stress.size()) + " record(s), page made " +
              generated_utc + " by kestrix-results. Marked rows (")
        .character(9888)
        .text("): sub-runs vary by more than " + threshold +
              " % (coefficient of variation). Ratio: mean against the first record of the same "
              "sweep; beyond spread: the difference of the means exceeds the sum of both "
              "standard deviations.")
        .close("p");
    if (!records.empty()) {
        body.element("h2", {}, "Systems").open("div", {{"class", "systems"}});
        for (std::size_t i = 0; i < records.size(); ++i) {
            system_table(body, records[i], views[i]);
        }
        body.close("div");
    }
    for (const auto& g : compare_groups(views)) {
        body.element("h2", {},
                     g.variable == "none" ? std::string("Repeated runs") : g.variable + " sweep");
        if (g.variable == "threads") {
            scaling_chart(body, g);
        } else {
            bar_chart(body, g);
        }
        compare_table(body, g);
    }
    timeline_charts(body, records, views);
    sensor_charts(body, records, views);
    for (const auto& s : stress) {
        stress_html(body, s);
    }
    return fill(fill(assets::report_html, "{{style}}", std::string(assets::report_css)), "{{body}}",
                body.str());
}

} // namespace kestrix::results
