#include "model/timeline.hpp"

#include "model/downsample.hpp"
#include "model/record.hpp"

#include <algorithm>
#include <cstdio>

namespace kestrix::results {
namespace {

using nlohmann::json;

json json_or_null(const std::optional<double>& v) {
    return v ? json(*v) : json(nullptr);
}

const json& timeline_member(const json& j, const char* key, const std::string& where) {
    if (!j.is_object()) {
        throw record_error(where + ": not an object");
    }
    const auto it = j.find(key);
    if (it == j.end()) {
        throw record_error(where + "." + key + ": missing");
    }
    return *it;
}

double timeline_number(const json& j, const std::string& where) {
    if (!j.is_number()) {
        throw record_error(where + ": not a number");
    }
    return j.get<double>();
}

std::optional<double> timeline_number_or_null(const json& j, const char* key,
                                              const std::string& where) {
    const auto it = j.find(key);
    if (it == j.end() || it->is_null()) {
        return std::nullopt;
    }
    return timeline_number(*it, where + "." + key);
}

} // namespace

std::vector<timeline_point> downsample(const std::vector<timeline_point>& points,
                                       std::size_t max_points) {
    const auto rate = [](const timeline_point& p) { return p.mgups; };
    return downsample_min_max(points, max_points, rate, rate);
}

std::string drift_note(const timeline_summary& s) {
    if (!s.drift || *s.drift >= drift_mark_below) {
        return {};
    }
    char buf[80];
    std::snprintf(buf, sizeof buf, "the score fell by %.1f %% during the run",
                  (1.0 - *s.drift) * 100.0);
    return buf;
}

void to_json(json& j, const timeline_point& v) {
    j = json::array({v.t_s, v.mgups});
}
void from_json(const json& j, timeline_point& v) {
    if (!j.is_array() || j.size() != 2) {
        throw record_error("timeline point: not a pair [t_s, mgups]");
    }
    v.t_s = timeline_number(j[0], "timeline point t_s");
    v.mgups = timeline_number(j[1], "timeline point mgups");
}

void to_json(json& j, const timeline_summary& v) {
    j = {{"mean_mgups", json_or_null(v.mean_mgups)},
         {"min_mgups", json_or_null(v.min_mgups)},
         {"max_mgups", json_or_null(v.max_mgups)},
         {"drift", json_or_null(v.drift)},
         {"drift_relative_precision", json_or_null(v.drift_relative_precision)},
         {"drift_unavailable", v.drift_unavailable ? json(*v.drift_unavailable) : json(nullptr)}};
}
void from_json(const json& j, timeline_summary& v) {
    const std::string at = "timeline.summary";
    if (!j.is_object()) {
        throw record_error(at + ": not an object");
    }
    v.mean_mgups = timeline_number_or_null(j, "mean_mgups", at);
    v.min_mgups = timeline_number_or_null(j, "min_mgups", at);
    v.max_mgups = timeline_number_or_null(j, "max_mgups", at);
    v.drift = timeline_number_or_null(j, "drift", at);
    v.drift_relative_precision = timeline_number_or_null(j, "drift_relative_precision", at);
    v.drift_unavailable.reset();
    if (const auto it = j.find("drift_unavailable"); it != j.end() && !it->is_null()) {
        if (!it->is_string()) {
            throw record_error(at + ".drift_unavailable: not a text");
        }
        v.drift_unavailable = it->get<std::string>();
    }
}

void to_json(json& j, const score_timeline& v) {
    j = {{"method", v.method},           {"interval_s", v.interval_s},
         {"timed_s", v.timed_s},         {"progress_lines", v.progress_lines},
         {"intervals", v.intervals},     {"relative_precision", json_or_null(v.relative_precision)},
         {"downsampled", v.downsampled}, {"points", v.points},
         {"summary", v.summary}};
}
void from_json(const json& j, score_timeline& v) {
    const std::string at = "timeline";
    const json& method = timeline_member(j, "method", at);
    if (!method.is_string()) {
        throw record_error(at + ".method: not a text");
    }
    v.method = method.get<std::string>();
    v.interval_s = timeline_number(timeline_member(j, "interval_s", at), at + ".interval_s");
    v.timed_s = timeline_number(timeline_member(j, "timed_s", at), at + ".timed_s");
    for (auto [key, field] :
         {std::pair{"progress_lines", &v.progress_lines}, std::pair{"intervals", &v.intervals}}) {
        const json& n = timeline_member(j, key, at);
        if (!n.is_number_unsigned() && !(n.is_number_integer() && n.get<std::int64_t>() >= 0)) {
            throw record_error(at + "." + key + ": not a whole number in range");
        }
        *field = n.get<std::uint64_t>();
    }
    v.relative_precision = timeline_number_or_null(j, "relative_precision", at);
    const json& ds = timeline_member(j, "downsampled", at);
    if (!ds.is_boolean()) {
        throw record_error(at + ".downsampled: not true or false");
    }
    v.downsampled = ds.get<bool>();
    const json& pts = timeline_member(j, "points", at);
    if (!pts.is_array()) {
        throw record_error(at + ".points: not a list");
    }
    v.points.clear();
    v.points.reserve(pts.size());
    for (const auto& p : pts) {
        v.points.push_back(p.get<timeline_point>());
    }
    v.summary = timeline_member(j, "summary", at).get<timeline_summary>();
}

} // namespace kestrix::results
