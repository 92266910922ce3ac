#include "tables.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace kestrix::results {
namespace {

using nlohmann::json;

std::string text_of(const json& v) {
    if (v.is_null()) {
        return "?";
    }
    return v.is_string() ? v.get<std::string>() : v.dump();
}

std::string cell(const std::optional<double>& v, int decimals = 2) {
    return v ? fixed(*v, decimals) : std::string("---");
}

std::string percent(const std::optional<double>& v) {
    return v ? fixed(*v, 2) + " %" : std::string("---");
}

std::string csv_field(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos) {
        return s;
    }
    std::string q = "\"";
    for (char c : s) {
        q += c;
        if (c == '"') {
            q += '"';
        }
    }
    return q + "\"";
}

std::string md_escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '|') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string scores_text(const point_stats& p, const char* sep) {
    std::string s;
    for (std::size_t i = 0; i < p.scores.size(); ++i) {
        s += (i ? sep : "") + cell(p.scores[i]);
    }
    return s;
}

json nullable(const std::optional<double>& v) {
    return v ? json(*v) : json(nullptr);
}

json stats_json(const point_stats& p) {
    json scores = json::array();
    for (const auto& s : p.scores) {
        scores.push_back(nullable(s));
    }
    return {{"point", p.point},
            {"scores", scores},
            {"n", p.n},
            {"median", nullable(p.median)},
            {"mean", nullable(p.mean)},
            {"sd", nullable(p.sd)},
            {"cv_percent", nullable(p.cv_percent)},
            {"noisy", p.noisy}};
}

std::size_t max_sub_runs(const record_view& v) {
    std::size_t k = 0;
    for (const auto& p : v.points) {
        k = std::max(k, p.scores.size());
    }
    return k;
}

const char* noisy_note = "varies > 3.5 %";

} // namespace

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

point_stats stats_of(std::string point, std::vector<std::optional<double>> scores) {
    point_stats p;
    p.point = std::move(point);
    p.scores = std::move(scores);
    std::vector<double> v;
    for (const auto& s : p.scores) {
        if (s) {
            v.push_back(*s);
        }
    }
    p.n = static_cast<int>(v.size());
    if (v.empty()) {
        return p;
    }
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    p.min = v.front();
    p.max = v.back();
    p.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
    const double mean = std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(n);
    p.mean = mean;
    if (n >= 2) {
        double ss = 0;
        for (double x : v) {
            ss += (x - mean) * (x - mean);
        }
        p.sd = std::sqrt(ss / static_cast<double>(n - 1));
        if (mean > 0) {
            p.cv_percent = *p.sd / mean * 100.0;
            p.noisy = *p.cv_percent > noisy_cv_percent;
        }
    }
    return p;
}

record_view view_of(const json& rec, const std::string& file_name) {
    record_view v;
    std::string stem = file_name;
    if (const auto slash = stem.find_last_of("/\\"); slash != std::string::npos) {
        stem = stem.substr(slash + 1);
    }
    if (stem.size() > 5 && stem.substr(stem.size() - 5) == ".json") {
        stem.resize(stem.size() - 5);
    }
    v.name = rec.contains("label") && rec["label"].is_string() &&
                     !rec["label"].get<std::string>().empty()
                 ? rec["label"].get<std::string>()
                 : stem;
    const json& o = rec["options"]["resolved"];
    v.variable = o.contains("harness_var") && o["harness_var"].is_string()
                     ? o["harness_var"].get<std::string>()
                     : "none";
    std::string brand = "unknown processor";
    const json& sys = rec["system"];
    if (sys.contains("processor") && sys["processor"].contains("brand") &&
        sys["processor"]["brand"].is_string()) {
        brand = sys["processor"]["brand"].get<std::string>();
        while (!brand.empty() && brand.back() == ' ') {
            brand.pop_back();
        }
    }
    // The swept setting is left out: its values are the points.
    auto setting = [&](const char* key, const char* swept, const std::string& before,
                       const std::string& after) {
        if (v.variable == swept || !o.contains(key) || o[key].is_null()) {
            return std::string();
        }
        return before + text_of(o[key]) + after;
    };
    v.title =
        brand + ", " + text_of(o["workload"]) + setting("isa", "isa", " ", "") +
        setting("size", "size", ", N = ", "") + setting("duration", "duration", ", ", " s") +
        setting("threads", "threads", ", ",
                o.contains("threads") && text_of(o["threads"]) == "1" ? " thread" : " threads") +
        setting("threading", "", " (", ")");
    if (v.variable != "none") {
        v.title += ", " + v.variable + " sweep";
    }
    // Points in the harness's order; sub-runs fall into them by their point label.
    std::vector<std::string> order;
    if (rec.contains("harness") && rec["harness"].is_object() &&
        rec["harness"].contains("points")) {
        for (const auto& p : rec["harness"]["points"]) {
            order.push_back(text_of(p));
        }
    }
    std::vector<std::vector<std::optional<double>>> scores(order.size());
    for (const auto& s : rec["sub_runs"]) {
        const std::string point = text_of(s["point"]);
        auto it = std::find(order.begin(), order.end(), point);
        if (it == order.end()) {
            order.push_back(point);
            scores.emplace_back();
            it = order.end() - 1;
        }
        auto& list = scores[static_cast<std::size_t>(it - order.begin())];
        if (s["valid"].get<bool>() && s["score"].is_number()) {
            list.emplace_back(s["score"].get<double>());
        } else {
            list.emplace_back(std::nullopt);
        }
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        v.points.push_back(stats_of(order[i], scores[i]));
    }
    return v;
}

std::vector<compare_group> compare_groups(const std::vector<record_view>& views) {
    std::vector<compare_group> groups;
    for (const auto& v : views) {
        auto it = std::find_if(groups.begin(), groups.end(),
                               [&](const compare_group& g) { return g.variable == v.variable; });
        if (it == groups.end()) {
            groups.push_back({v.variable, {}, {}});
            it = groups.end() - 1;
        }
        it->records.push_back(&v);
    }
    for (auto& g : groups) {
        std::vector<std::string> order;
        for (const auto* r : g.records) {
            for (const auto& p : r->points) {
                if (std::find(order.begin(), order.end(), p.point) == order.end()) {
                    order.push_back(p.point);
                }
            }
        }
        for (const auto& point : order) {
            const point_stats* first = nullptr;
            for (std::size_t i = 0; i < g.records.size(); ++i) {
                const auto& pts = g.records[i]->points;
                auto it = std::find_if(pts.begin(), pts.end(),
                                       [&](const point_stats& p) { return p.point == point; });
                if (it == pts.end()) {
                    continue;
                }
                compare_row row{point, i, &*it, std::nullopt, std::nullopt};
                if (i == 0) {
                    first = &*it;
                }
                if (first && first->mean && it->mean && *first->mean > 0) {
                    row.ratio = *it->mean / *first->mean;
                    if (i > 0 && first->sd && it->sd) {
                        row.exceeds = std::fabs(*it->mean - *first->mean) > *first->sd + *it->sd;
                    }
                }
                g.rows.push_back(row);
            }
        }
    }
    return groups;
}

std::string format_show(const std::vector<record_view>& views, table_format f) {
    std::string out;
    if (f == table_format::json) {
        json all = json::array();
        for (const auto& v : views) {
            json pts = json::array();
            for (const auto& p : v.points) {
                pts.push_back(stats_json(p));
            }
            all.push_back({{"record", v.name},
                           {"variable", v.variable},
                           {"title", v.title},
                           {"points", pts}});
        }
        return all.dump(2) + "\n";
    }
    if (f == table_format::csv) {
        out = "record,variable,point,scores,n,median,mean,sd,cv_percent,noisy\n";
        for (const auto& v : views) {
            for (const auto& p : v.points) {
                out += csv_field(v.name) + "," + csv_field(v.variable) + "," + csv_field(p.point) +
                       "," + scores_text(p, ";") + "," + std::to_string(p.n) + "," +
                       cell(p.median) + "," + cell(p.mean) + "," + cell(p.sd) + "," +
                       cell(p.cv_percent) + "," + (p.noisy ? "yes" : "no") + "\n";
            }
        }
        return out;
    }
    for (std::size_t r = 0; r < views.size(); ++r) {
        const auto& v = views[r];
        if (r) {
            out += "\n";
        }
        out += "### " + md_escape(v.name) + ": " + md_escape(v.title) + "\n\n";
        const std::size_t k = max_sub_runs(v);
        out += "| " + md_escape(v.variable) + " |";
        for (std::size_t i = 1; i <= k; ++i) {
            out += " run " + std::to_string(i) + " |";
        }
        out += " median | mean | sd | cv | note |\n|---|";
        for (std::size_t i = 0; i < k + 5; ++i) {
            out += (i + 1 == k + 5) ? "---|" : "---:|";
        }
        out += "\n";
        for (const auto& p : v.points) {
            out += "| " + md_escape(p.point) + " |";
            for (std::size_t i = 0; i < k; ++i) {
                out += ' ';
                out += i < p.scores.size() ? cell(p.scores[i]) : std::string();
                out += " |";
            }
            out += ' ';
            out += cell(p.median) + " | " + cell(p.mean) + " | " + cell(p.sd) + " | " +
                   percent(p.cv_percent) + " | " + (p.noisy ? noisy_note : "") + " |\n";
        }
    }
    return out;
}

std::string format_compare(const std::vector<record_view>& views, table_format f) {
    const auto groups = compare_groups(views);
    auto yes_no = [](const std::optional<bool>& b) {
        return b ? std::string(*b ? "yes" : "no") : std::string("---");
    };
    std::string out;
    if (f == table_format::json) {
        json all = json::array();
        for (const auto& g : groups) {
            json recs = json::array();
            for (const auto* r : g.records) {
                recs.push_back({{"record", r->name}, {"title", r->title}});
            }
            json rows = json::array();
            for (const auto& row : g.rows) {
                json j = stats_json(*row.stats);
                j["record"] = g.records[row.record]->name;
                j["ratio"] = nullable(row.ratio);
                j["exceeds_spread"] = row.exceeds ? json(*row.exceeds) : json(nullptr);
                rows.push_back(j);
            }
            all.push_back({{"variable", g.variable}, {"records", recs}, {"rows", rows}});
        }
        return all.dump(2) + "\n";
    }
    if (f == table_format::csv) {
        out =
            "variable,point,record,scores,n,median,mean,sd,cv_percent,noisy,ratio,exceeds_spread\n";
        for (const auto& g : groups) {
            for (const auto& row : g.rows) {
                const auto& p = *row.stats;
                out += csv_field(g.variable) + "," + csv_field(row.point) + "," +
                       csv_field(g.records[row.record]->name) + "," + scores_text(p, ";") + "," +
                       std::to_string(p.n) + "," + cell(p.median) + "," + cell(p.mean) + "," +
                       cell(p.sd) + "," + cell(p.cv_percent) + "," + (p.noisy ? "yes" : "no") +
                       "," + cell(row.ratio, 3) + "," + yes_no(row.exceeds) + "\n";
            }
        }
        return out;
    }
    for (std::size_t gi = 0; gi < groups.size(); ++gi) {
        const auto& g = groups[gi];
        if (gi) {
            out += "\n";
        }
        out += "### " + md_escape(g.variable) + " sweep, against " + md_escape(g.records[0]->name) +
               "\n\n";
        for (std::size_t i = 0; i < g.records.size(); ++i) {
            out +=
                "- " + md_escape(g.records[i]->name) + ": " + md_escape(g.records[i]->title) + "\n";
        }
        out += "\n| " + md_escape(g.variable) +
               " | record | scores | median | mean | sd | cv | ratio | beyond spread | note |\n"
               "|---|---|---|---:|---:|---:|---:|---:|---|---|\n";
        for (const auto& row : g.rows) {
            const auto& p = *row.stats;
            out += "| " + md_escape(row.point) + " | " + md_escape(g.records[row.record]->name) +
                   " | " + scores_text(p, " ") + " | " + cell(p.median) + " | " + cell(p.mean) +
                   " | " + cell(p.sd) + " | " + percent(p.cv_percent) + " | " + cell(row.ratio, 3) +
                   " | " + (row.record == 0 ? std::string() : yes_no(row.exceeds)) + " | " +
                   (p.noisy ? noisy_note : "") + " |\n";
        }
    }
    return out;
}

} // namespace kestrix::results
