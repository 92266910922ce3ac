#include "model/sensors.hpp"

#include "model/downsample.hpp"
#include "model/json_fields.hpp"

namespace kestrix::results {

using json_fields::field;
using json_fields::out;
using nlohmann::json;

namespace {

// Points are short arrays, not objects: read one by one, a wrong one named by its place.
template <class Point>
void sensor_points(const json& j, const char* key, std::vector<Point>& points) {
    const std::string at = std::string(".") + key;
    const auto it = j.find(key);
    if (it == j.end()) {
        throw json_fields::shape_error(at, "missing");
    }
    if (!it->is_array()) {
        throw json_fields::shape_error(at, "not a list");
    }
    points.clear();
    for (std::size_t i = 0; i < it->size(); ++i) {
        Point p;
        try {
            from_json((*it)[i], p);
        } catch (const json_fields::shape_error& e) {
            throw json_fields::shape_error(at + "[" + std::to_string(i) + "]" + e.path, e.problem);
        }
        points.push_back(p);
    }
}

} // namespace

std::vector<sensor_point> downsample(const std::vector<sensor_point>& points,
                                     std::size_t max_points) {
    const auto value = [](const sensor_point& p) { return p.value; };
    return downsample_min_max(points, max_points, value, value);
}

std::vector<clock_point> downsample(const std::vector<clock_point>& points,
                                    std::size_t max_points) {
    return downsample_min_max(
        points, max_points, [](const clock_point& p) { return p.min_mhz; },
        [](const clock_point& p) { return p.max_mhz; });
}

void to_json(json& j, const series_origin& v) {
    j = json{{"source", out(v.source)}, {"unavailable", out(v.unavailable)}, {"note", out(v.note)}};
}

void from_json(const json& j, series_origin& v) {
    field(j, "source", v.source);
    field(j, "unavailable", v.unavailable);
    field(j, "note", v.note);
}

// Points are kept as short arrays, [t_s, min, mean, max] and [t_s, value]: a long run's series
// is most of a record.
void to_json(json& j, const clock_point& v) {
    j = json::array({v.t_s, v.min_mhz, v.mean_mhz, v.max_mhz});
}

void from_json(const json& j, clock_point& v) {
    if (!j.is_array() || j.size() != 4) {
        throw json_fields::shape_error("", "not a list [t_s, min_mhz, mean_mhz, max_mhz]");
    }
    json_fields::in(j[0], v.t_s);
    json_fields::in(j[1], v.min_mhz);
    json_fields::in(j[2], v.mean_mhz);
    json_fields::in(j[3], v.max_mhz);
}

void to_json(json& j, const sensor_point& v) {
    j = json::array({v.t_s, v.value});
}

void from_json(const json& j, sensor_point& v) {
    if (!j.is_array() || j.size() != 2) {
        throw json_fields::shape_error("", "not a pair [t_s, value]");
    }
    json_fields::in(j[0], v.t_s);
    json_fields::in(j[1], v.value);
}

void to_json(json& j, const clock_series& v) {
    j = json{{"label", v.label},
             {"origin", v.origin},
             {"points", out(v.points)},
             {"processor_mean_mhz", out(v.processor_mean_mhz)}};
}

void from_json(const json& j, clock_series& v) {
    field(j, "label", v.label);
    field(j, "origin", v.origin);
    sensor_points(j, "points", v.points);
    field(j, "processor_mean_mhz", v.processor_mean_mhz);
}

void to_json(json& j, const value_series& v) {
    j = json{{"origin", v.origin}, {"points", out(v.points)}};
}

void from_json(const json& j, value_series& v) {
    field(j, "origin", v.origin);
    sensor_points(j, "points", v.points);
}

void to_json(json& j, const sensor_summary& v) {
    j = json{
        {"clock_mean_mhz", out(v.clock_mean_mhz)},       {"clock_max_mhz", out(v.clock_max_mhz)},
        {"temperature_max_c", out(v.temperature_max_c)}, {"energy_j", out(v.energy_j)},
        {"power_mean_w", out(v.power_mean_w)},           {"mgups_per_w", out(v.mgups_per_w)},
        {"throttle_events", out(v.throttle_events)}};
}

void from_json(const json& j, sensor_summary& v) {
    field(j, "clock_mean_mhz", v.clock_mean_mhz);
    field(j, "clock_max_mhz", v.clock_max_mhz);
    field(j, "temperature_max_c", v.temperature_max_c);
    field(j, "energy_j", v.energy_j);
    field(j, "power_mean_w", v.power_mean_w);
    field(j, "mgups_per_w", v.mgups_per_w);
    field(j, "throttle_events", v.throttle_events);
}

void to_json(json& j, const sub_run_sensors& v) {
    j = json{{"interval_s", v.interval_s},           {"samples", v.samples},
             {"downsampled", v.downsampled},         {"clock", v.clock},
             {"temperature_c", v.temperature_c},     {"power_w", v.power_w},
             {"throttle_events", v.throttle_events}, {"summary", v.summary}};
}

void from_json(const json& j, sub_run_sensors& v) {
    field(j, "interval_s", v.interval_s);
    field(j, "samples", v.samples);
    field(j, "downsampled", v.downsampled);
    field(j, "clock", v.clock);
    field(j, "temperature_c", v.temperature_c);
    field(j, "power_w", v.power_w);
    field(j, "throttle_events", v.throttle_events);
    field(j, "summary", v.summary);
}

} // namespace kestrix::results
