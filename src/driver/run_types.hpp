#pragma once
// The records one run shares between its orchestration, its workers and its evaluation, and
// the seam through which tests replace the solver, the timers and thread creation.
#include "driver/config.hpp"
#include "driver/phase_barrier.hpp"
#include "platform/placement.hpp"
#include "platform/timer.hpp"
#include "solver/solver.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kestrix {

// Everything a run reaches outside the driver. The real run uses real_run_hooks(); tests
// supply fakes to drive the failure paths for real.
struct run_hooks {
    std::function<std::unique_ptr<solver>(std::string_view workload, std::string_view isa,
                                          std::uint32_t index)>
        make_solver;
    std::function<fast_timer()> probe_fast;
    std::function<coarse_timer()> probe_coarse;
    std::function<std::int64_t()> fast_now;
    std::function<std::uint64_t()> coarse_now;
    std::function<bool(const fast_timer&)> hwbot_compliant;
    std::function<std::optional<std::string>(std::string_view isa)> isa_support;
    std::function<std::optional<std::string>(std::string_view isa, std::string_view workload)>
        variant_runnable;
    std::function<std::string()> brand;
    std::function<std::string()> features;
    std::function<std::uint64_t()> available_memory;
    // Starts one worker thread; may throw std::system_error like std::thread does.
    std::function<std::thread(std::function<void()> body)> start_thread;
};

run_hooks real_run_hooks();

struct run_params {
    bool large_pages = false;
    const threading_manager& placement;
    std::string_view workload;
    std::string_view isa;
    bool strict = false;
    std::uint32_t duration = 1;
    std::uint64_t size = 0;
    bool bypass = false;
    std::string_view threading;
};

struct thread_result {
    std::uint32_t thread_index = 0;
    std::int64_t coarse_ms = 0;
    std::int64_t fast_us = 0;
    std::uint64_t iterations = 0;
    std::uint64_t updates = 0;
};

struct run_state {
    bool stopped = false;
    std::uint32_t count = 0;
    std::vector<thread_result> results;
    std::string_view workload;
    std::string_view isa;
};

// One cache-line pair per worker so that the writers never share a line. Relaxed atomics:
// plain moves on x86, and no data race for the reader of the progress line.
struct alignas(128) progress_slot {
    std::atomic<std::uint64_t> iterations{0};
    std::atomic<double> mgups{0.0};
};
static_assert(sizeof(progress_slot) == 128);

struct worker_args {
    std::uint32_t index = 0;
    const run_params& params;
    run_state& state;
    std::mutex& console;
    std::mutex& results;
    phase_barrier& barrier;
    std::stop_source& stop;
    std::span<progress_slot> progress;
    fast_timer fast;
    coarse_timer coarse;
    bool is_main = false;
    const run_hooks& hooks;
};

void worker(const worker_args& args);

// The run itself, from the brand line to the joined workers (no evaluation).
run_state perform_run(const run_params& params, std::uint32_t count, const run_hooks& hooks);

// run_benchmark with replaceable dependencies.
std::optional<double> run_benchmark_with(bench_config config, topology_cache& cache,
                                         const run_hooks& hooks);

// threads = 0: the core count L (1 when 0), lowered to the number of grids that fit into the
// available memory when that number is not 0. Never below 1.
std::uint32_t automatic_thread_count(std::uint32_t cores, std::uint64_t available_memory,
                                     std::uint64_t size);

void print_warning_box();

} // namespace kestrix
