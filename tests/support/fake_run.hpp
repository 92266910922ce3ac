#pragma once
// A scripted solver and a fake run environment with per-thread fake clocks, so that whole runs
// (and their failure paths) execute in milliseconds and deterministically. Every solver made
// leaves a record of what reached it: workload, instruction set, worker, grid edge and steps.
#include "driver/run_types.hpp"
#include "support/capture_sink.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kestrix::test {

enum class fail_at { nothing, make, allocate, init, pre_step, step, post_step, validate };

// fail_worker for a failure in every worker.
inline constexpr std::uint32_t every_worker = std::numeric_limits<std::uint32_t>::max() - 1;

struct solver_record {
    std::uint64_t run = 0; // runs started (fast-timer probes) when the solver was made
    workload_kind workload{};
    isa_kind isa{};
    std::uint32_t index = 0;
    std::uint64_t edge = 0;  // from allocate_fields
    std::uint64_t steps = 0; // from validate
};

struct fake_script {
    std::uint32_t fail_worker = std::numeric_limits<std::uint32_t>::max();
    fail_at where = fail_at::nothing;
    bool throws = false;                 // the failing operation throws instead
    std::uint64_t fail_step = 0;         // step index at which a step operation fails
    std::int64_t step_ms = 250;          // fake time one step takes
    std::int64_t fast_skew_ms = 0;       // extra fast-timer time per step (timer disagreement)
    std::int64_t pace_ms = 0;            // real time every step takes
    bool others_wait_for_stop = false;   // non-failing workers pace their steps in real time
    bool failing_validate_waits = false; // the failing validate waits for everyone else's
    std::uint64_t updates = 1000;        // updates per step
    int count = 1;                       // workers of the run (for failing_validate_waits)
    std::atomic<int> made{0}, allocated{0}, initialised{0}, validated{0};
    std::atomic<std::uint64_t> runs{0};

    std::mutex log_mutex;
    std::vector<solver_record> log;
};

// Each thread has its own fake time, so every worker sees exactly its own steps.
inline thread_local std::int64_t fake_coarse_ms = 0;
inline thread_local std::int64_t fake_fast_ms = 0;

class fake_solver final : public solver {
public:
    fake_solver(fake_script& s, std::uint32_t index, std::size_t record)
        : solver(static_cast<std::int32_t>(index)), s_(s), index_(index), record_(record) {}
    ~fake_solver() override = default;

    error_text allocate_fields(const field_params& p) override {
        note([&](solver_record& r) { r.edge = p.n; });
        if (failing(fail_at::allocate)) {
            return fail("field allocation failed");
        }
        ++s_.allocated;
        return {};
    }
    error_text init_fields() override {
        if (failing(fail_at::init)) {
            return fail("init broke");
        }
        ++s_.initialised;
        return {};
    }
    error_text pre_step(std::uint64_t) override {
        if (failing(fail_at::pre_step) && steps_ == s_.fail_step) {
            return fail("pre_step broke in thread " + std::to_string(index_));
        }
        return {};
    }
    error_text step() override {
        if (failing(fail_at::step) && steps_ == s_.fail_step) {
            return fail("solver H step error in thread " + std::to_string(index_));
        }
        if (s_.others_wait_for_stop && !failing(fail_at::step)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (s_.pace_ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(s_.pace_ms));
        }
        ++steps_;
        fake_coarse_ms += s_.step_ms;
        fake_fast_ms += s_.step_ms + s_.fast_skew_ms;
        return {};
    }
    error_text post_step(std::uint64_t) override {
        if (failing(fail_at::post_step) && steps_ == s_.fail_step + 1) {
            return fail("post_step broke in thread " + std::to_string(index_));
        }
        return {};
    }
    error_text validate(std::uint64_t steps) override {
        note([&](solver_record& r) { r.steps = steps; });
        if (failing(fail_at::validate)) {
            if (s_.failing_validate_waits) {
                while (s_.validated.load() + 1 < s_.count) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                // Their results are appended right after their validate returns.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            return fail("validation broke in thread " + std::to_string(index_));
        }
        ++s_.validated;
        return {};
    }
    std::uint64_t updates_per_step() const override { return s_.updates; }

private:
    bool failing(fail_at where) const {
        return s_.where == where && (s_.fail_worker == index_ || s_.fail_worker == every_worker);
    }
    error_text fail(std::string text) const {
        if (s_.throws) {
            throw std::runtime_error(text);
        }
        return text;
    }
    template <typename F> void note(F f) {
        std::lock_guard lock(s_.log_mutex);
        f(s_.log[record_]);
    }
    fake_script& s_;
    std::uint32_t index_;
    std::size_t record_;
    std::uint64_t steps_ = 0;
};

// A fake of the whole run environment on the scripted solver: fast timer in microseconds
// (1 MHz), coarse timer in milliseconds, everything compliant and supported, memory unknown,
// one core, and the console kept in sink.
inline run_env fake_env(fake_script& s, capture_sink& sink) {
    run_env e;
    e.make_solver = [&s](workload_kind workload, isa_kind isa,
                         std::uint32_t index) -> std::unique_ptr<solver> {
        if (s.where == fail_at::make && (s.fail_worker == index || s.fail_worker == every_worker)) {
            if (s.throws) {
                throw std::bad_alloc();
            }
            return nullptr;
        }
        ++s.made;
        std::size_t record = 0;
        {
            std::lock_guard lock(s.log_mutex);
            record = s.log.size();
            s.log.push_back(
                {.run = s.runs.load(), .workload = workload, .isa = isa, .index = index});
        }
        return std::make_unique<fake_solver>(s, index, record);
    };
    e.probe_fast = [&s] {
        ++s.runs;
        fast_timer t;
        t.report_frequency = 1000000;
        t.source = timer_source::tsc;
        return t;
    };
    e.probe_coarse = [] {
        coarse_timer t;
        t.report_frequency = 1000;
        return t;
    };
    e.fast_now = [] { return fake_fast_ms * 1000; };
    e.coarse_now = [] { return static_cast<std::uint64_t>(fake_coarse_ms); };
    e.hwbot_compliant = [](const fast_timer&) { return true; };
    e.isa_support = [](isa_kind) { return std::optional<std::string>(); };
    e.variant_runnable = [](isa_kind, workload_kind) { return std::optional<std::string>(); };
    e.brand = [] { return std::string("Test CPU @ 1.00GHz"); };
    e.features = [] { return std::string("features: sse2"); };
    e.available_memory = [] { return std::uint64_t{0}; };
    e.start_thread = [](std::function<void()> body) { return std::thread(std::move(body)); };
    e.topology = []() -> const cpu_topology& {
        static const cpu_topology one_core = [] {
            cpu_topology t;
            t.numa_nodes.resize(1);
            t.numa_nodes[0].llcs.resize(1);
            core c;
            c.logicals.push_back(logical{0, 0, 0, 0});
            t.numa_nodes[0].llcs[0].cores.push_back(c);
            return t;
        }();
        return one_core;
    };
    e.place = [](const threading_manager&, std::uint32_t) {};
    e.console = &sink;
    return e;
}

} // namespace kestrix::test
