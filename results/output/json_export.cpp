#include "output/exporters.hpp"
#include "output/timeline_export.hpp"

#include <nlohmann/json.hpp>

namespace kestrix::results {
namespace {

using nlohmann::json;

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

// Texts from records may hold any bytes; invalid UTF-8 is replaced rather than refused.
std::string dump(const json& j) {
    return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace

std::string json_show(const std::vector<record_view>& views) {
    json all = json::array();
    for (const auto& v : views) {
        json pts = json::array();
        for (const auto& p : v.points) {
            pts.push_back(stats_json(p));
        }
        all.push_back({{"record", v.name},
                       {"variable", v.variable},
                       {"title", v.title},
                       {"headline", v.headline ? nlohmann::json(*v.headline) : nlohmann::json()},
                       {"points", pts}});
    }
    return dump(all);
}

std::string json_compare(const std::vector<record_view>& views) {
    json all = json::array();
    for (const auto& g : compare_groups(views)) {
        json recs = json::array();
        for (const auto* r : g.records) {
            recs.push_back({{"record", r->name}, {"title", r->title}});
        }
        json rows = json::array();
        const bool drift = group_has_drift(g), efficiency = group_has_efficiency(g);
        for (const auto& row : g.rows) {
            json j = stats_json(*row.stats);
            if (drift) {
                j["drifts"] = json::array();
                for (const auto& d : row.stats->drifts) {
                    j["drifts"].push_back(nullable(d));
                }
            }
            if (efficiency) {
                j["mgups_per_w"] = json::array();
                for (const auto& e : row.stats->mgups_per_w) {
                    j["mgups_per_w"].push_back(nullable(e));
                }
            }
            j["record"] = g.records[row.record]->name;
            j["ratio"] = nullable(row.ratio);
            j["exceeds_spread"] = row.exceeds ? json(*row.exceeds) : json(nullptr);
            rows.push_back(j);
        }
        all.push_back({{"variable", g.variable}, {"records", recs}, {"rows", rows}});
    }
    return dump(all);
}

} // namespace kestrix::results
