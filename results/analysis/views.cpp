#include "analysis/views.hpp"

#include "analysis/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrix::results {
namespace {

std::string text_of(const std::optional<std::string>& v) {
    return v.value_or("?");
}
std::string text_of(const std::optional<std::uint64_t>& v) {
    return v ? std::to_string(*v) : std::string("?");
}

const suite_part* part_named(const suite_info& s, const char* name) {
    for (const auto& p : s.parts) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

std::string median_text(const suite_part* p) {
    if (!p || !p->median) {
        return "---";
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", *p->median);
    return buf;
}

} // namespace

std::string suite_headline(const suite_info& s) {
    const suite_part* single = part_named(s, "single");
    const suite_part* all = part_named(s, "all");
    return "single thread " + median_text(single) + " MGups (" + s.widest + "), all threads " +
           median_text(all) + " MGups (" + s.widest + "); sse2 " +
           median_text(part_named(s, "single_baseline")) + " / " +
           median_text(part_named(s, "all_baseline"));
}

std::string noisy_note() {
    char buf[32];
    std::snprintf(buf, sizeof buf, "varies > %.1f %%", statistics::noisy_cv_percent);
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
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    p.min = *lo;
    p.max = *hi;
    p.mean = statistics::mean(v);
    p.sd = statistics::sample_sd(v);
    p.cv_percent = statistics::cv_percent(v);
    p.noisy = statistics::noisy(p.cv_percent);
    p.median = statistics::median(std::move(v));
    return p;
}

record_view view_of(const record& r, const std::string& file_name) {
    record_view v;
    std::string stem = file_name;
    if (const auto slash = stem.find_last_of("/\\"); slash != std::string::npos) {
        stem = stem.substr(slash + 1);
    }
    if (stem.size() > 5 && stem.substr(stem.size() - 5) == ".json") {
        stem.resize(stem.size() - 5);
    }
    v.name = !r.label.empty() ? r.label : stem;
    const settings& o = r.options.resolved;
    v.variable = o.harness_var.value_or("none");
    std::string brand = r.system.processor.brand.value_or("unknown processor");
    while (!brand.empty() && brand.back() == ' ') {
        brand.pop_back();
    }
    // The swept setting is left out: its values are the points.
    auto setting = [&](const auto& value, const char* swept, const std::string& before,
                       const std::string& after) {
        if (v.variable == swept || !value) {
            return std::string();
        }
        return before + text_of(value) + after;
    };
    v.title = brand + ", " + text_of(o.workload) + setting(o.isa, "isa", " ", "") +
              setting(o.size, "size", ", N = ", "") + setting(o.duration, "duration", ", ", " s") +
              setting(o.threads, "threads", ", ", o.threads == 1u ? " thread" : " threads") +
              setting(o.threading, "", " (", ")");
    if (r.suite) {
        // The standard run: its four parts are the points, grouped with other standard runs.
        v.variable = "suite";
        v.title = brand + ", standard run" + (r.suite->quick ? " (quick)" : "");
        v.headline = suite_headline(*r.suite);
    } else if (v.variable != "none") {
        v.title += ", " + v.variable + " sweep";
    }
    // Points in the harness's order; sub-runs fall into them by their point label.
    std::vector<std::string> order;
    if (r.harness) {
        order = r.harness->points;
    }
    std::vector<std::vector<std::optional<double>>> scores(order.size()), drifts(order.size()),
        efficiency(order.size());
    for (const auto& s : r.sub_runs) {
        auto it = std::find(order.begin(), order.end(), s.point);
        if (it == order.end()) {
            order.push_back(s.point);
            scores.emplace_back();
            drifts.emplace_back();
            efficiency.emplace_back();
            it = order.end() - 1;
        }
        const auto at = static_cast<std::size_t>(it - order.begin());
        scores[at].push_back(s.valid ? s.score : std::nullopt);
        drifts[at].push_back(s.timeline ? s.timeline->summary.drift : std::nullopt);
        efficiency[at].push_back(s.sensors ? s.sensors->summary.mgups_per_w : std::nullopt);
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        v.points.push_back(stats_of(order[i], scores[i]));
        v.points.back().drifts = std::move(drifts[i]);
        v.points.back().mgups_per_w = std::move(efficiency[i]);
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

} // namespace kestrix::results
