// Sensor samples cut into sub-runs: series on the score's time axis, energy and throttle events
// counted from the sample before the sub-run, power from the energy counter or as given, the
// clock's spread, MGups per watt; and the sampler thread's timing.
#include "capture/sensor_sampler.hpp"
#include "capture/sensor_series.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace kestrix::results;

namespace {

constexpr std::int64_t s_ns = 1'000'000'000;

timed_reading at(double t_s, std::vector<std::optional<double>> clock,
                 std::optional<double> temperature, std::optional<double> energy,
                 std::optional<std::uint64_t> throttle, std::optional<double> power = {}) {
    timed_reading r;
    r.at_ns = static_cast<std::int64_t>(t_s * 1e9);
    r.reading.clock_mhz = std::move(clock);
    r.reading.temperature_c = temperature;
    r.reading.energy_j = energy;
    r.reading.throttle_events = throttle;
    r.reading.power_w = power;
    return r;
}

sensor_status found_everything() {
    sensor_status s;
    s.clock_label = "effective";
    s.clock.source = "msr";
    s.temperature.source = "hwmon";
    s.power.source = "rapl";
    s.throttle.source = "thermal_throttle";
    s.logical_processors = 2;
    return s;
}

TEST(SensorSeries, WindowSummaries) {
    // Samples once a second from t = 0; the window is [2 s, 6 s), time 0 at 3 s.
    std::vector<timed_reading> samples;
    for (int i = 0; i < 8; ++i) {
        const double t = i;
        samples.push_back(at(t, {3000.0 + 10 * i, i == 4 ? std::nullopt : std::optional(3100.0)},
                             60.0 + i, 100.0 + 50 * i, static_cast<std::uint64_t>(i > 4 ? 7 : 5)));
    }
    const sample_window w{2 * s_ns, 6 * s_ns, 3 * s_ns, 400.0};
    const sub_run_sensors z = sensors_in_window(samples, found_everything(), w, 1.0);

    EXPECT_EQ(z.samples, 4u);
    ASSERT_EQ(z.clock.points.size(), 4u);
    EXPECT_DOUBLE_EQ(z.clock.points[0].t_s, -1.0);
    EXPECT_DOUBLE_EQ(z.clock.points[0].min_mhz, 3020.0);
    EXPECT_DOUBLE_EQ(z.clock.points[0].max_mhz, 3100.0);
    EXPECT_DOUBLE_EQ(z.clock.points[2].mean_mhz, 3040.0); // one processor had no value
    ASSERT_EQ(z.clock.processor_mean_mhz.size(), 2u);
    EXPECT_DOUBLE_EQ(*z.clock.processor_mean_mhz[0], 3035.0);
    EXPECT_DOUBLE_EQ(*z.clock.processor_mean_mhz[1], 3100.0);
    EXPECT_DOUBLE_EQ(*z.summary.clock_max_mhz, 3100.0);
    EXPECT_DOUBLE_EQ(*z.summary.temperature_max_c, 65.0);
    // Energy from the sample at 1 s (before the window) to the one at 5 s: 4 s at 50 W.
    EXPECT_DOUBLE_EQ(*z.summary.energy_j, 200.0);
    EXPECT_DOUBLE_EQ(*z.summary.power_mean_w, 50.0);
    EXPECT_DOUBLE_EQ(*z.summary.mgups_per_w, 8.0);
    ASSERT_EQ(z.power_w.points.size(), 4u);
    EXPECT_DOUBLE_EQ(z.power_w.points[0].value, 50.0);
    EXPECT_EQ(*z.summary.throttle_events, 2u); // 5 before the window, 7 at its end
    EXPECT_EQ(z.throttle_events.points.front().value, 0.0);
    EXPECT_EQ(z.clock.label, "effective");
    EXPECT_EQ(z.power_w.origin.source, "rapl");
}

TEST(SensorSeries, WhatIsMissingStaysMissing) {
    struct row {
        const char* name;
        std::vector<timed_reading> samples;
        bool energy, power, temperature, clock;
    };
    const std::vector<row> rows = {
        {"nothing read",
         {at(0, {}, {}, {}, {}), at(1, {}, {}, {}, {})},
         false,
         false,
         false,
         false},
        {"power without energy: trapezoid",
         {at(0, {}, {}, {}, {}, 10.0), at(1, {}, {}, {}, {}, 30.0), at(3, {}, {}, {}, {}, 30.0)},
         true,
         true,
         false,
         false},
        {"a sensor that vanished halfway",
         {at(0, {2000.0}, 50.0, 0.0, {}), at(1, {2000.0}, {}, {}, {}),
          at(2, {1000.0}, 52.0, 40.0, {})},
         true,
         true,
         true,
         true},
        {"one sample only", {at(0, {2000.0}, 50.0, 5.0, 1)}, false, false, true, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        sensor_status st;
        st.power.unavailable = "energy_uj: Permission denied";
        const auto z = sensors_in_window(r.samples, st, {0, 10 * s_ns, 0, 100.0}, 1.0);
        EXPECT_EQ(z.summary.energy_j.has_value(), r.energy);
        EXPECT_EQ(z.summary.power_mean_w.has_value(), r.power);
        EXPECT_EQ(z.summary.temperature_max_c.has_value(), r.temperature);
        EXPECT_EQ(z.summary.clock_mean_mhz.has_value(), r.clock);
        EXPECT_EQ(z.power_w.origin.unavailable, "energy_uj: Permission denied");
        if (r.power && !r.samples[0].reading.energy_j) {
            EXPECT_DOUBLE_EQ(*z.summary.energy_j, 20.0 + 60.0); // (10+30)/2·1 + 30·2
        }
        if (r.clock && r.energy) {
            EXPECT_DOUBLE_EQ(*z.summary.power_mean_w, 20.0);
            EXPECT_DOUBLE_EQ(*z.summary.clock_mean_mhz, 5000.0 / 3);
        }
    }
}

TEST(SensorSeries, DownsamplingKeepsASpike) {
    std::vector<timed_reading> samples;
    for (int i = 0; i < 5000; ++i) {
        samples.push_back(
            at(i * 0.1, {i == 3333 ? 900.0 : 3000.0}, i == 4444 ? 99.0 : 60.0, {}, {}));
    }
    const auto z = sensors_in_window(samples, {}, {0, 1000 * s_ns, 0, {}}, 0.1);
    EXPECT_TRUE(z.downsampled);
    EXPECT_EQ(z.samples, 5000u);
    EXPECT_LE(z.clock.points.size(), max_sensor_points);
    EXPECT_LE(z.temperature_c.points.size(), max_sensor_points);
    double lowest = 1e9, hottest = 0;
    for (const auto& p : z.clock.points) {
        lowest = std::min(lowest, p.min_mhz);
    }
    for (const auto& p : z.temperature_c.points) {
        hottest = std::max(hottest, p.value);
    }
    EXPECT_EQ(lowest, 900.0);
    EXPECT_EQ(hottest, 99.0);
}

TEST(SensorSeries, SubRunsByTheirMarkers) {
    const std::vector<console_event> events = {
        {0, "!!HARNESS!! run 1/2", false},
        {2 * s_ns, "benchmarking... 0/1s            400.0 MGups  3 iterations", true},
        {4 * s_ns, "!!HARNESS!! run 2/2", false},
        {5 * s_ns, "benchmarking... 0/1s            400.0 MGups  3 iterations", true},
    };
    record r;
    r.sub_runs.resize(2);
    r.sub_runs[0].index = 1;
    r.sub_runs[1].index = 2;
    std::vector<timed_reading> samples;
    for (int i = 0; i < 8; ++i) {
        samples.push_back(at(i, {}, 50.0 + i, {}, {}));
    }
    attach_sensors(r, events, {}, samples, 1.0);
    ASSERT_TRUE(r.sub_runs[0].sensors && r.sub_runs[1].sensors);
    const auto& first = r.sub_runs[0].sensors->temperature_c.points;
    const auto& second = r.sub_runs[1].sensors->temperature_c.points;
    ASSERT_EQ(first.size(), 4u);  // 0..3 s
    ASSERT_EQ(second.size(), 4u); // 4..7 s
    EXPECT_DOUBLE_EQ(first.front().t_s, -2.0);
    EXPECT_DOUBLE_EQ(second.front().t_s, -1.0);
    EXPECT_DOUBLE_EQ(second.back().value, 57.0);
}

// Counts its reads; every read takes a little time, as a real one does.
class counting_reader final : public sensor_reader {
public:
    const sensor_status& status() const override { return status_; }
    sensor_reading read() override {
        ++reads;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        sensor_reading r;
        r.throttle_events = reads.load();
        return r;
    }
    std::atomic<std::uint64_t> reads{0};

private:
    sensor_status status_;
};

TEST(SensorSampler, SamplesFromStartToStop) {
    counting_reader reader;
    sensor_sampler sampler(reader, 0.1);
    EXPECT_GE(reader.reads.load(), 1u); // the first sample is taken at once
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    const auto samples = sampler.stop();
    // At once, about four ticks, and the last at stop; a loaded machine may delay ticks but
    // never adds any.
    EXPECT_GE(samples.size(), 3u);
    EXPECT_LE(samples.size(), 7u);
    EXPECT_EQ(samples.size(), reader.reads.load());
    for (std::size_t i = 1; i < samples.size(); ++i) {
        EXPECT_LT(samples[i - 1].at, samples[i].at);
        EXPECT_EQ(*samples[i].reading.throttle_events, i + 1);
    }
    EXPECT_EQ(sampler.stop().size(), 0u); // stopped once
}

} // namespace

namespace {

TEST(SensorSeries, RecordRoundTrip) {
    std::vector<timed_reading> samples;
    for (int i = 0; i < 4; ++i) {
        samples.push_back(at(i, {2000.0 + i, std::nullopt}, 50.0, 10.0 * i, 1));
    }
    const auto z = sensors_in_window(samples, found_everything(), {0, 10 * s_ns, 0, 40.0}, 1.0);
    const nlohmann::json j = z;
    const auto back = j.get<sub_run_sensors>();
    EXPECT_EQ(nlohmann::json(back), j);
    ASSERT_EQ(back.clock.points.size(), 4u);
    EXPECT_EQ(back.clock.points[3].max_mhz, 2003.0);
    EXPECT_FALSE(back.clock.processor_mean_mhz[1].has_value());
    // A point of the wrong shape is refused with its place.
    nlohmann::json bad = j;
    bad["power_w"]["points"][1] = {{"t_s", 1}};
    try {
        (void)bad.get<sub_run_sensors>();
        ADD_FAILURE() << "accepted " << bad["power_w"].dump();
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find(".points[1]"), std::string::npos) << e.what();
    }
}

} // namespace
