#pragma once
// The reusable barrier of a run's three phases.
//
// Not std::barrier: the libstdc++ of GCC 12 builds it on atomic wait/notify, which on targets
// without a futex (our mingw-w64 Windows build) can miss a wake-up and leave a run waiting
// forever (seen here under Wine). Three phases per run need no speed; a mutex and a condition
// variable are enough and behave the same everywhere.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace kestrix {

class phase_barrier {
public:
    explicit phase_barrier(std::ptrdiff_t participants) : expected_(participants) {}
    phase_barrier(const phase_barrier&) = delete;
    phase_barrier& operator=(const phase_barrier&) = delete;

    // Blocks until every participant of the current phase has arrived (or dropped out).
    void arrive_and_wait() {
        std::unique_lock lock(m_);
        const std::uint64_t phase = phase_;
        ++arrived_;
        if (arrived_ >= expected_) {
            complete();
            return;
        }
        cv_.wait(lock, [&] { return phase_ != phase; });
    }

    // Counts as an arrival in the current phase and leaves the barrier for good.
    void arrive_and_drop() {
        std::lock_guard lock(m_);
        --expected_;
        if (arrived_ >= expected_) {
            complete();
        }
    }

private:
    void complete() {
        arrived_ = 0;
        ++phase_;
        cv_.notify_all();
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::ptrdiff_t expected_;
    std::ptrdiff_t arrived_ = 0;
    std::uint64_t phase_ = 0;
};

} // namespace kestrix
