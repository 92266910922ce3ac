#pragma once
// Samples the machine's sensors on a thread of its own while kestrix runs: one reading at once,
// then one every interval until stopped, and a last one then. The thread sleeps between samples
// at normal priority: at idle priority it would starve while every core runs a worker.
#include "host/sensors.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrix::results {

struct sensor_sample {
    std::chrono::steady_clock::time_point at;
    sensor_reading reading;
};

// --sample-interval: at least this, or 0 for no sampling.
inline constexpr double min_sample_interval_s = 0.1;

class sensor_sampler {
public:
    sensor_sampler(sensor_reader& reader, double interval_s);
    ~sensor_sampler();
    sensor_sampler(const sensor_sampler&) = delete;
    sensor_sampler& operator=(const sensor_sampler&) = delete;

    // Takes the last sample, ends the thread and hands over every sample in time order.
    std::vector<sensor_sample> stop();

private:
    void loop();
    void take();

    sensor_reader& reader_;
    std::chrono::nanoseconds interval_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<sensor_sample> samples_;
    std::thread thread_;
};

} // namespace kestrix::results
