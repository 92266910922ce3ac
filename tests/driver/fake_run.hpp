#pragma once
// A scripted solver and per-thread fake clocks, so that whole runs (and their failure paths)
// execute in milliseconds and deterministically.
#include "driver/run_types.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <thread>

namespace kestrix::test {

enum class fail_at { nothing, make, allocate, init, step, validate };

// fail_worker for a failure in every worker.
inline constexpr std::uint32_t every_worker = std::numeric_limits<std::uint32_t>::max() - 1;

struct fake_script {
    std::uint32_t fail_worker = std::numeric_limits<std::uint32_t>::max();
    fail_at where = fail_at::nothing;
    std::uint64_t fail_step = 0;         // step index at which the step fails
    std::int64_t step_ms = 250;          // fake time one step takes
    std::int64_t fast_skew_ms = 0;       // extra fast-timer time per step (timer disagreement)
    bool others_wait_for_stop = false;   // non-failing workers pace their steps in real time
    bool failing_validate_waits = false; // the failing validate waits for everyone else's
    std::uint64_t updates = 1000;        // updates per step
    std::atomic<int> made{0}, allocated{0}, initialised{0}, validated{0};
};

// Each thread has its own fake time, so every worker sees exactly its own steps.
inline thread_local std::int64_t fake_coarse_ms = 0;
inline thread_local std::int64_t fake_fast_ms = 0;

class fake_solver final : public solver {
public:
    fake_solver(fake_script& s, std::uint32_t index)
        : solver(static_cast<std::int32_t>(index)), s_(s), index_(index) {}
    ~fake_solver() override = default;

    error_text allocate_fields(const field_params&) override {
        if (failing(fail_at::allocate)) {
            return "field allocation failed";
        }
        ++s_.allocated;
        return {};
    }
    error_text init_fields() override {
        if (failing(fail_at::init)) {
            return "init broke";
        }
        ++s_.initialised;
        return {};
    }
    error_text pre_step(std::uint64_t) override { return {}; }
    error_text step() override {
        if (failing(fail_at::step) && steps_ == s_.fail_step) {
            return "solver H step error in thread " + std::to_string(index_);
        }
        if (s_.others_wait_for_stop && !failing(fail_at::step)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ++steps_;
        fake_coarse_ms += s_.step_ms;
        fake_fast_ms += s_.step_ms + s_.fast_skew_ms;
        return {};
    }
    error_text post_step(std::uint64_t) override { return {}; }
    error_text validate(std::uint64_t) override {
        if (failing(fail_at::validate)) {
            if (s_.failing_validate_waits) {
                while (s_.validated.load() + 1 < count_) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                // Their results are appended right after their validate returns.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            return "validation broke in thread " + std::to_string(index_);
        }
        ++s_.validated;
        return {};
    }
    std::uint64_t updates_per_step() const override { return s_.updates; }

    int count_ = 1;

private:
    bool failing(fail_at where) const {
        return s_.where == where && (s_.fail_worker == index_ || s_.fail_worker == every_worker);
    }
    fake_script& s_;
    std::uint32_t index_;
    std::uint64_t steps_ = 0;
};

// Hooks that run the scripted solver on fake clocks: fast timer in microseconds
// (1 MHz), coarse timer in milliseconds, everything compliant and supported.
inline run_hooks fake_hooks(fake_script& s, int count) {
    run_hooks h;
    h.make_solver = [&s, count](std::string_view, std::string_view,
                                std::uint32_t index) -> std::unique_ptr<solver> {
        if (s.where == fail_at::make && s.fail_worker == index) {
            return nullptr;
        }
        ++s.made;
        auto p = std::make_unique<fake_solver>(s, index);
        p->count_ = count;
        return p;
    };
    h.probe_fast = [] {
        fast_timer t;
        t.report_frequency = 1000000;
        t.source = timer_source::tsc;
        return t;
    };
    h.probe_coarse = [] {
        coarse_timer t;
        t.report_frequency = 1000;
        return t;
    };
    h.fast_now = [] { return fake_fast_ms * 1000; };
    h.coarse_now = [] { return static_cast<std::uint64_t>(fake_coarse_ms); };
    h.hwbot_compliant = [](const fast_timer&) { return true; };
    h.isa_support = [](std::string_view) { return std::optional<std::string>(); };
    h.variant_runnable = [](std::string_view) { return std::optional<std::string>(); };
    h.brand = [] { return std::string("Test CPU @ 1.00GHz"); };
    h.features = [] { return std::string("features: sse2"); };
    h.available_memory = [] { return std::uint64_t{0}; };
    h.start_thread = [](std::function<void()> body) { return std::thread(std::move(body)); };
    return h;
}

} // namespace kestrix::test
