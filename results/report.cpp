#include "report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrix::results {
namespace {

using nlohmann::json;

const char* const palette[] = {"#3b6ea8", "#d1743a", "#4a9a5b", "#b04a6f", "#7a62b8", "#8c7a3c"};

const char* colour(std::size_t i) {
    return palette[i % (sizeof palette / sizeof palette[0])];
}

std::string num(double v) {
    return fixed(v, 1);
}

std::string value_text(const json& v) {
    if (v.is_null()) {
        return "not known";
    }
    return v.is_string() ? v.get<std::string>() : v.dump();
}

json bytes_or_null(const json& v) {
    if (!v.is_number()) {
        return nullptr;
    }
    return fixed(v.get<double>() / (1024.0 * 1024.0 * 1024.0), 2) + " GiB";
}

// A round step for about five ticks up to `top`.
double tick_step(double top) {
    if (top <= 0) {
        return 1;
    }
    const double raw = top / 5;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (raw <= m * mag) {
            return m * mag;
        }
    }
    return 10 * mag;
}

struct frame {
    double w = 860, h = 340, left = 70, right = 20, top = 50, bottom = 60;
    double plot_w() const { return w - left - right; }
    double plot_h() const { return h - top - bottom; }
};

// The title names every record's processor and settings, one line each, in its colour.
std::string svg_open(frame& f, const std::vector<std::string>& lines, const std::string& what) {
    f.top = 34 + 16 * static_cast<double>(lines.size());
    f.h += 16 * static_cast<double>(lines.size());
    std::string all;
    for (const auto& l : lines) {
        all += (all.empty() ? "" : "; ") + l;
    }
    std::string s = "<svg class=\"chart\" width=\"" + num(f.w) + "\" height=\"" + num(f.h) +
                    "\" viewBox=\"0 0 " + num(f.w) + " " + num(f.h) + "\" role=\"img\"><title>" +
                    html_escape(what + ": " + all) + "</title><text x=\"" + num(f.left) +
                    "\" y=\"20\" class=\"ctitle\">" + html_escape(what) + "</text>";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        s += "<text x=\"" + num(f.left) + "\" y=\"" + num(38 + 16 * static_cast<double>(i)) +
             "\" class=\"csub\" fill=\"" + colour(i) + "\">" + html_escape(lines[i]) + "</text>";
    }
    return s;
}

std::string y_axis(const frame& f, double top_value, const std::string& unit) {
    std::string s;
    const double step = tick_step(top_value);
    for (double v = 0; v <= top_value + step * 1e-9; v += step) {
        const double y = f.top + f.plot_h() - v / top_value * f.plot_h();
        s += "<line x1=\"" + num(f.left) + "\" x2=\"" + num(f.left + f.plot_w()) + "\" y1=\"" +
             num(y) + "\" y2=\"" + num(y) + "\" class=\"grid\"/>";
        s += "<text x=\"" + num(f.left - 6) + "\" y=\"" + num(y + 4) + "\" text-anchor=\"end\">" +
             fixed(v, step < 1 ? 1 : 0) + "</text>";
    }
    s += "<text x=\"16\" y=\"" + num(f.top + f.plot_h() / 2) + "\" transform=\"rotate(-90 16 " +
         num(f.top + f.plot_h() / 2) + ")\" text-anchor=\"middle\">" + html_escape(unit) +
         "</text>";
    return s;
}

std::string legend(const frame& f, const std::vector<std::string>& names, bool with_ideal) {
    std::string s;
    double x = f.left;
    const double y = f.h - 14;
    for (std::size_t i = 0; i < names.size(); ++i) {
        s += "<rect x=\"" + num(x) + "\" y=\"" + num(y - 9) +
             "\" width=\"12\" height=\"10\" fill=\"" + colour(i) + "\"/><text x=\"" + num(x + 16) +
             "\" y=\"" + num(y) + "\">" + html_escape(names[i]) + "</text>";
        x += 30 + 7.0 * static_cast<double>(names[i].size());
    }
    if (with_ideal) {
        s += "<line x1=\"" + num(x) + "\" x2=\"" + num(x + 14) + "\" y1=\"" + num(y - 4) +
             "\" y2=\"" + num(y - 4) + "\" class=\"ideal\"/><text x=\"" + num(x + 18) + "\" y=\"" +
             num(y) + "\">ideal linear scaling</text>";
    }
    return s;
}

std::vector<std::string> chart_titles(const compare_group& g) {
    std::vector<std::string> t;
    for (const auto* r : g.records) {
        t.push_back(r->name + ": " + r->title);
    }
    return t;
}

// Threads sweep: one scaling line per record and the ideal line from its first point.
std::string scaling_chart(const compare_group& g) {
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
            if (end == p.point.c_str() || !p.mean || t <= 0) {
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
        max_v > 0 ? std::ceil(max_v / tick_step(max_v * 1.05)) * tick_step(max_v * 1.05) : 1;
    auto X = [&](double t) {
        return f.left + (max_t > 1 ? (t - 1) / (max_t - 1) : 0.5) * f.plot_w();
    };
    auto Y = [&](double v) { return f.top + f.plot_h() - v / top_value * f.plot_h(); };
    std::string s = svg_open(f, chart_titles(g), "score per thread count");
    s += y_axis(f, top_value, "MGups");
    for (double t = 1; t <= max_t; t += std::max(1.0, std::floor(max_t / 10))) {
        s += "<text x=\"" + num(X(t)) + "\" y=\"" + num(f.top + f.plot_h() + 18) +
             "\" text-anchor=\"middle\">" + fixed(t, 0) + "</text>";
    }
    s += "<text x=\"" + num(f.left + f.plot_w() / 2) + "\" y=\"" + num(f.top + f.plot_h() + 36) +
         "\" text-anchor=\"middle\">threads</text>";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& line = lines[i];
        if (line.empty()) {
            continue;
        }
        const double per = line.front().v / line.front().t;
        s += "<line x1=\"" + num(X(line.front().t)) + "\" y1=\"" + num(Y(line.front().v)) +
             "\" x2=\"" + num(X(max_t)) + "\" y2=\"" + num(Y(per * max_t)) +
             "\" class=\"ideal\" stroke=\"" + colour(i) + "\"/>";
        std::string pts;
        for (const auto& q : line) {
            pts += num(X(q.t)) + "," + num(Y(q.v)) + " ";
        }
        s += "<polyline points=\"" + pts + "\" fill=\"none\" stroke=\"" + colour(i) +
             "\" stroke-width=\"2.5\" class=\"series\"/>";
        for (const auto& q : line) {
            s += "<circle cx=\"" + num(X(q.t)) + "\" cy=\"" + num(Y(q.v)) + "\" r=\"3.5\" fill=\"" +
                 colour(i) + "\"><title>" + fixed(q.t, 0) +
                 (q.t == 1 ? " thread: " : " threads: ") + fixed(q.v, 2) +
                 " MGups</title></circle>";
        }
    }
    std::vector<std::string> names;
    for (const auto* r : g.records) {
        names.push_back(r->name);
    }
    return s + legend(f, names, true) + "</svg>";
}

// Other sweeps: grouped bars at the mean with worst-to-best error bars.
std::string bar_chart(const compare_group& g) {
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
        if (row.stats->max) {
            max_v = std::max(max_v, *row.stats->max);
        }
    }
    const double step = tick_step(max_v * 1.05);
    const double top_value = max_v > 0 ? std::ceil(max_v * 1.05 / step) * step : 1;
    auto Y = [&](double v) { return f.top + f.plot_h() - v / top_value * f.plot_h(); };
    std::string s = svg_open(f, chart_titles(g),
                             g.variable == "none" ? std::string("score of the repeated runs")
                                                  : "score per " + g.variable);
    s += y_axis(f, top_value, "MGups");
    const double slot = f.plot_w() / static_cast<double>(std::max<std::size_t>(points.size(), 1));
    const double bar = std::min(40.0, (slot - 16) / static_cast<double>(g.records.size()));
    for (std::size_t pi = 0; pi < points.size(); ++pi) {
        const double x0 = f.left + slot * static_cast<double>(pi) +
                          (slot - bar * static_cast<double>(g.records.size())) / 2;
        s += "<text x=\"" + num(f.left + slot * (static_cast<double>(pi) + 0.5)) + "\" y=\"" +
             num(f.top + f.plot_h() + 18) + "\" text-anchor=\"middle\">" + html_escape(points[pi]) +
             "</text>";
        for (const auto& row : g.rows) {
            if (row.point != points[pi] || !row.stats->mean) {
                continue;
            }
            const auto& p = *row.stats;
            const double x = x0 + bar * static_cast<double>(row.record);
            s += "<rect class=\"bar\" x=\"" + num(x + 1) + "\" y=\"" + num(Y(*p.mean)) +
                 "\" width=\"" + num(bar - 2) + "\" height=\"" + num(Y(0) - Y(*p.mean)) +
                 "\" fill=\"" + colour(row.record) + "\"><title>" +
                 html_escape(g.records[row.record]->name) + " " + html_escape(p.point) + ": mean " +
                 fixed(*p.mean, 2) + " MGups, " + std::to_string(p.n) + " sub-runs</title></rect>";
            if (p.min && p.max && *p.max > *p.min) {
                const double cx = x + bar / 2;
                s += "<path class=\"err\" d=\"M" + num(cx) + " " + num(Y(*p.min)) + "V" +
                     num(Y(*p.max)) + "M" + num(cx - 5) + " " + num(Y(*p.min)) + "h10M" +
                     num(cx - 5) + " " + num(Y(*p.max)) + "h10\"/>";
            }
        }
    }
    if (g.variable != "none") {
        s += "<text x=\"" + num(f.left + f.plot_w() / 2) + "\" y=\"" +
             num(f.top + f.plot_h() + 36) + "\" text-anchor=\"middle\">" + html_escape(g.variable) +
             "</text>";
    }
    std::vector<std::string> names;
    for (const auto* r : g.records) {
        names.push_back(r->name);
    }
    return s + legend(f, names, false) + "</svg>";
}

std::string system_block(const json& rec, const record_view& v) {
    const json& sys = rec["system"];
    const json& p = sys["processor"];
    const json& t = sys["topology"];
    const json& o = rec["options"]["resolved"];
    auto row = [](const std::string& k, const std::string& val) {
        return "<tr><th>" + html_escape(k) + "</th><td>" + html_escape(val) + "</td></tr>";
    };
    std::string s = "<div class=\"system\"><h3>" + html_escape(v.name) + "</h3><table>";
    s += row("processor", value_text(p["brand"]));
    auto known = [](std::initializer_list<std::pair<const char*, const json*>> parts) {
        std::string out;
        for (const auto& [name, v] : parts) {
            if (!v->is_null()) {
                out += (out.empty() ? "" : ", ") + value_text(*v) + (*name ? " " : "") + name;
            }
        }
        return out.empty() ? std::string("not known") : out;
    };
    s += row("vendor, family, model",
             known({{"", &p["vendor"]}, {"", &p["family"]}, {"", &p["model"]}}));
    s += row("topology", known({{"packages", &t["packages"]},
                                {"NUMA nodes", &t["numa_nodes"]},
                                {"LLCs", &t["last_level_caches"]},
                                {"cores", &t["cores"]},
                                {"logical", &t["logical_processors"]},
                                {"perf levels", &t["performance_levels"]}}));
    const json total = bytes_or_null(sys["memory"]["total_bytes"]);
    const json avail = bytes_or_null(sys["memory"]["available_bytes"]);
    s += row("memory", known({{"total", &total}, {"available", &avail}}));
    s += row("system", known({{"", &sys["os"]["name"]}, {"", &sys["os"]["version"]}}));
    s += row("kernel", value_text(sys["os"]["kernel"]));
    s += row("host", value_text(sys["host"]));
    s += row("time (UTC)", value_text(sys["start_utc"]) + " to " + value_text(sys["end_utc"]));
    s += row("kestrix", value_text(rec["kestrix"]["version"]));
    s += row("settings", value_text(o["workload"]) + ", " + value_text(o["isa"]) +
                             ", N = " + value_text(o["size"]) + ", " + value_text(o["duration"]) +
                             " s, " + value_text(o["threads"]) +
                             (value_text(o["threads"]) == "1" ? " thread (" : " threads (") +
                             value_text(o["threading"]) + "), large pages " +
                             value_text(o["large_pages"]) + ", sweep " +
                             value_text(o["harness_var"]) + ", " + value_text(o["sub_runs"]) +
                             " sub-runs");
    if (rec["options"]["given"].is_array()) {
        std::string given;
        for (const auto& a : rec["options"]["given"]) {
            given += (given.empty() ? "" : " ") + a.get<std::string>();
        }
        s += row("command line", given.empty() ? "(no options)" : given);
    }
    s += row("record",
             value_text(rec["source"]) + (rec["complete"].get<bool>() ? "" : ", incomplete"));
    if (sys.contains("note")) {
        s += row("note", value_text(sys["note"]));
    }
    return s + "</table></div>";
}

std::string compare_table(const compare_group& g) {
    std::string s = "<table class=\"cmp\"><thead><tr><th>" + html_escape(g.variable) +
                    "</th><th>record</th><th>scores</th><th>median</th><th>mean</th><th>sd</th>"
                    "<th>cv</th><th>ratio</th><th>beyond spread</th></tr></thead><tbody>";
    for (const auto& row : g.rows) {
        const auto& p = *row.stats;
        std::string scores;
        for (const auto& x : p.scores) {
            if (!scores.empty()) {
                scores += ' ';
            }
            scores += x ? fixed(*x, 2) : std::string("---");
        }
        auto c = [](const std::optional<double>& v, int d) {
            return v ? fixed(*v, d) : std::string("---");
        };
        std::string beyond = row.record == 0 ? ""
                             : row.exceeds   ? (*row.exceeds ? "yes" : "no")
                                             : "---";
        s += std::string("<tr") +
             (p.noisy ? " class=\"noisy\" title=\"sub-runs vary by more than 3.5 %\"" : "") +
             "><td>" + html_escape(p.point) + "</td><td>" +
             html_escape(g.records[row.record]->name) + "</td><td>" + scores + "</td><td>" +
             c(p.median, 2) + "</td><td>" + c(p.mean, 2) + "</td><td>" + c(p.sd, 2) + "</td><td>" +
             (p.cv_percent ? fixed(*p.cv_percent, 2) + " %" : "---") + (p.noisy ? " &#9888;" : "") +
             "</td><td>" + c(row.ratio, 3) + "</td><td>" + beyond + "</td></tr>";
    }
    return s + "</tbody></table>";
}

const char* const style = R"(
body{font:14px/1.4 sans-serif;margin:24px;color:#222;background:#fff}
h1{font-size:22px}h2{font-size:18px;margin-top:28px}h3{font-size:15px;margin:0 0 6px}
.systems{display:flex;flex-wrap:wrap;gap:16px}
.system{flex:1 1 320px;border:1px solid #ccc;border-radius:6px;padding:10px;background:#fafafa}
.system th{text-align:left;vertical-align:top;padding-right:10px;white-space:nowrap;color:#555}
table.cmp{border-collapse:collapse;margin:8px 0}
table.cmp td,table.cmp th{border:1px solid #ccc;padding:3px 8px;text-align:right}
table.cmp td:nth-child(2),table.cmp th:nth-child(2),table.cmp td:first-child{text-align:left}
tr.noisy td{background:#fff3d6}
svg.chart{display:block;margin:10px 0;font:12px sans-serif}
svg .ctitle{font-size:13px;font-weight:bold}
svg .csub{font-size:12px}
svg .grid{stroke:#e3e3e3}
svg .ideal{stroke:#888;stroke-dasharray:6 4;stroke-width:1.5}
svg .err{stroke:#222;stroke-width:1.5;fill:none}
p.note{color:#555}
)";

} // namespace

std::string html_escape(const std::string& s) {
    std::string out;
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
        default:
            out += c;
        }
    }
    return out;
}

std::string html_report(const std::vector<json>& records, const std::vector<record_view>& views,
                        const std::string& generated_utc) {
    std::string s = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                    "<title>kestrix results</title><style>";
    s += style;
    s +=
        "</style></head><body><h1>kestrix results</h1><p class=\"note\">" +
        std::to_string(records.size()) + " record(s), page made " + html_escape(generated_utc) +
        " by kestrix-results. Marked rows (&#9888;): sub-runs vary by more than 3.5 % (coefficient "
        "of variation). Ratio: mean against the first record of the same sweep; beyond spread: the "
        "difference of the means exceeds the sum of both standard deviations.</p>";
    s += "<h2>Systems</h2><div class=\"systems\">";
    for (std::size_t i = 0; i < records.size(); ++i) {
        s += system_block(records[i], views[i]);
    }
    s += "</div>";
    for (const auto& g : compare_groups(views)) {
        s += "<h2>" +
             html_escape(g.variable == "none" ? std::string("Repeated runs")
                                              : g.variable + " sweep") +
             "</h2>";
        s += g.variable == "threads" ? scaling_chart(g) : bar_chart(g);
        s += compare_table(g);
    }
    return s + "</body></html>\n";
}

} // namespace kestrix::results
