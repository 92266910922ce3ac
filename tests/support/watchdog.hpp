#pragma once
// A hang is the fault many driver tests look for: the watchdog ends the test program with a
// message on the real standard error (which no test captures, so it reaches the log) when the
// guarded scope has not ended in time, instead of leaving it to the CTest timeout.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace kestrix::test {

class watchdog {
public:
    explicit watchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(60))
        : what_(std::move(what)), thread_([this, limit] {
              std::unique_lock lock(m_);
              if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "run hung: %s\n", what_.c_str());
                  std::fflush(stderr);
                  std::_Exit(1);
              }
          }) {}
    ~watchdog() {
        {
            std::lock_guard lock(m_);
            done_ = true;
        }
        cv_.notify_one();
        thread_.join();
    }
    watchdog(const watchdog&) = delete;
    watchdog& operator=(const watchdog&) = delete;

private:
    std::string what_;
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace kestrix::test
