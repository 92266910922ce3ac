#pragma once
// What the machine's sensors said during one sub-run: the clock over the logical processors,
// the package temperature, the package power and the throttle events, each with where it came
// from or why there is none, and a summary (clock, temperature, energy, power, MGups per watt).
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

// A record keeps at most this many points per series and sub-run.
inline constexpr std::size_t max_sensor_points = 1000;

// Where a series comes from, or why there is none.
struct series_origin {
    std::optional<std::string> source, unavailable, note;
};

// One sample of the clock over the logical processors, in MHz.
struct clock_point {
    double t_s = 0;
    double min_mhz = 0, mean_mhz = 0, max_mhz = 0;
};

struct sensor_point {
    double t_s = 0;
    double value = 0;
};

struct clock_series {
    std::string label; // "effective", "requested", "reported"; empty without a source
    series_origin origin;
    std::vector<clock_point> points;
    // Each logical processor's mean over the sub-run, in the system's processor order.
    std::vector<std::optional<double>> processor_mean_mhz;
};

struct value_series {
    series_origin origin;
    std::vector<sensor_point> points;
};

struct sensor_summary {
    std::optional<double> clock_mean_mhz, clock_max_mhz, temperature_max_c, energy_j, power_mean_w,
        mgups_per_w;
    std::optional<std::uint64_t> throttle_events;
};

// Times are seconds since the sub-run's timed phase began (its first progress line), as the
// score over time counts them, so both share one axis; samples taken while the fields were
// being set up are negative. Without progress lines they count from the sub-run's start.
struct sub_run_sensors {
    double interval_s = 1;
    std::uint64_t samples = 0; // taken during the sub-run, before downsampling
    bool downsampled = false;
    clock_series clock;
    value_series temperature_c, power_w, throttle_events;
    sensor_summary summary;
};

// At most max_points points: buckets of consecutive points, each kept as its lowest and its
// highest point in time order, so that no spike or dip disappears.
std::vector<sensor_point> downsample(const std::vector<sensor_point>& points,
                                     std::size_t max_points = max_sensor_points);
// The same for the clock: per bucket the sample with the lowest minimum and the one with the
// highest maximum.
std::vector<clock_point> downsample(const std::vector<clock_point>& points,
                                    std::size_t max_points = max_sensor_points);

void to_json(nlohmann::json& j, const series_origin& v);
void from_json(const nlohmann::json& j, series_origin& v);
void to_json(nlohmann::json& j, const clock_point& v);
void from_json(const nlohmann::json& j, clock_point& v);
void to_json(nlohmann::json& j, const sensor_point& v);
void from_json(const nlohmann::json& j, sensor_point& v);
void to_json(nlohmann::json& j, const clock_series& v);
void from_json(const nlohmann::json& j, clock_series& v);
void to_json(nlohmann::json& j, const value_series& v);
void from_json(const nlohmann::json& j, value_series& v);
void to_json(nlohmann::json& j, const sensor_summary& v);
void from_json(const nlohmann::json& j, sensor_summary& v);
void to_json(nlohmann::json& j, const sub_run_sensors& v);
void from_json(const nlohmann::json& j, sub_run_sensors& v);

} // namespace kestrix::results
