#include "capture/sensor_sampler.hpp"

namespace kestrix::results {

sensor_sampler::sensor_sampler(sensor_reader& reader, double interval_s)
    : reader_(reader),
      interval_(std::chrono::nanoseconds(static_cast<std::int64_t>(
          (interval_s < min_sample_interval_s ? min_sample_interval_s : interval_s) * 1e9))) {
    take();
    thread_ = std::thread([this] { loop(); });
}

sensor_sampler::~sensor_sampler() {
    if (thread_.joinable()) {
        stop();
    }
}

void sensor_sampler::take() {
    sensor_sample s;
    s.reading = reader_.read();
    s.at = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> lock(mutex_);
    samples_.push_back(std::move(s));
}

void sensor_sampler::loop() {
    // Ticks on a fixed grid from the first sample, so that a slow reading does not shift
    // every later one; ticks a reading overran are skipped.
    const auto first = std::chrono::steady_clock::now();
    auto next = first + interval_;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (wake_.wait_until(lock, next, [this] { return stopping_; })) {
                return;
            }
        }
        take();
        const auto now = std::chrono::steady_clock::now();
        while (next <= now) {
            next += interval_;
        }
    }
}

std::vector<sensor_sample> sensor_sampler::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
        take();
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::move(samples_);
}

} // namespace kestrix::results
