#pragma once
// The records one run shares between its orchestration, its workers and its evaluation, and
// the run environment through which tests replace everything outside the driver.
#include "console/output.hpp"
#include "driver/config.hpp"
#include "driver/phase_barrier.hpp"
#include "driver/request.hpp"
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

// Everything a run reaches outside the driver, in one object: the solver factory, the clocks,
// the processor checks, free memory, thread start, topology and placement, and the console.
// The program builds the real one once (real_run_env) and hands it to every run, the sweep
// points of the harness included; tests replace any member.
struct run_env {
    std::function<std::unique_ptr<solver>(workload_kind, isa_kind, std::uint32_t index)>
        make_solver;
    std::function<fast_timer()> probe_fast;
    std::function<coarse_timer()> probe_coarse;
    std::function<std::int64_t()> fast_now;
    std::function<std::uint64_t()> coarse_now;
    std::function<bool(const fast_timer&)> hwbot_compliant;
    std::function<std::optional<std::string>(isa_kind)> isa_support;
    std::function<std::optional<std::string>(isa_kind, workload_kind)> variant_runnable;
    std::function<std::string()> brand;
    std::function<std::string()> features;
    std::function<std::uint64_t()> available_memory; // 0 when unknown
    // Starts one worker thread; may throw, as std::thread does.
    std::function<std::thread(std::function<void()> body)> start_thread;
    // The processor topology, detected at most once.
    std::function<const cpu_topology&()> topology;
    // Pins the calling worker thread to its place in the list.
    std::function<void(const threading_manager&, std::uint32_t index)> place;
    console_sink* console = &process_console();

    console_sink& sink() const { return *console; }
};

// The real system; the topology is detected into cache on first use.
run_env real_run_env(topology_cache& cache);

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
    const run_request& request; // duration already clamped
    const threading_manager& placement;
    run_state& state;
    std::mutex& console;
    std::mutex& results;
    phase_barrier& barrier;
    std::stop_source& stop;
    std::span<progress_slot> progress;
    fast_timer fast;
    coarse_timer coarse;
    bool is_main = false;
    const run_env& env;
};

void worker(const worker_args& args);

// The run itself, from the brand line to the joined workers (no evaluation). The request's
// duration is used as given (run_benchmark clamps it).
run_state perform_run(const run_request& request, const threading_manager& placement,
                      std::uint32_t count, const run_env& env);

// threads = 0: the core count L (1 when 0), lowered to the number of grids that fit into the
// available memory when that number is not 0. Never below 1.
std::uint32_t automatic_thread_count(std::uint32_t cores, std::uint64_t available_memory,
                                     std::uint64_t size);

void print_warning_box(console_sink& sink);

} // namespace kestrix
