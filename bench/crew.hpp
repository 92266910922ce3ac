#pragma once
// The report's thread crew: a fixed set of threads that run one job at a time, each on its own
// lane, pinned like the program's phte placement, and the measurements the sections share.
#include "platform/memory.hpp"
#include "platform/placement.hpp"
#include "solver/family_table.hpp"
#include "solver/field.hpp"
#include "solver/solver.hpp"

#include <barrier>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestrix::bench {

inline constexpr double bytes_per_update = 96.0;
inline constexpr double bytes_per_probe_element = 24.0;

double now_seconds();

// The phte placement of the program for count threads, cycled when there are more threads than
// processors.
threading_manager pin_list(std::size_t count);

// One standing-wave grid: its fields never change under any family's kernels, so every
// variant can step the same grid and the report needs only one per thread and edge.
struct grid_holder {
    std::unique_ptr<solver> owner;
    field_grid* grid = nullptr;

    std::optional<std::string> build(std::uint64_t n, bool large, std::uint32_t index) {
        // Below 48 the standing wave has no check node and refuses to start; the soft Gaussian's
        // all-zero fields stay zero under every kernel, and zeros cost what other values cost.
        owner = make_solver(n < 48 ? workload_kind::soft_gaussian : workload_kind::standing_wave,
                            isa_kind::sse2, index);
        if (auto err = owner->allocate_fields({large, n, 0.01})) {
            owner.reset();
            return err;
        }
        if (auto err = owner->init_fields()) {
            owner.reset();
            return err;
        }
        grid = view_solver(*owner).grid;
        return {};
    }
    void reset() {
        owner.reset();
        grid = nullptr;
    }
};

// What one thread holds and reports back.
struct lane {
    double* px = nullptr;
    double* py = nullptr;
    std::uint64_t probe_elements = 0;
    grid_holder normal;
    grid_holder large;
    double seconds = 0.0;
    double warm_seconds = 0.0;
    std::uint64_t steps = 0;
    std::optional<std::string> error;
};

// A fixed set of threads that run one job at a time, each on its own lane, so that grids and
// probe arrays stay with the thread that touched them first.
class crew {
public:
    crew(std::size_t count, bool pin) : lanes_(count), start_(count + 1), done_(count + 1) {
        if (pin) {
            placement_ = pin_list(count);
        }
        for (std::size_t i = 0; i < count; ++i) {
            threads_.emplace_back([this, i, pin] { body(i, pin); });
        }
    }
    ~crew() {
        quit_ = true;
        start_.arrive_and_wait();
        for (auto& t : threads_) {
            t.join();
        }
        for (auto& l : lanes_) {
            aligned_release(l.px);
            aligned_release(l.py);
        }
    }
    crew(const crew&) = delete;
    crew& operator=(const crew&) = delete;

    std::size_t size() const { return lanes_.size(); }
    std::vector<lane>& lanes() { return lanes_; }

    // Runs job(index, lane) on every thread at once and waits for all of them.
    void run(std::function<void(std::uint32_t, lane&)> job) {
        job_ = std::move(job);
        start_.arrive_and_wait();
        done_.arrive_and_wait();
    }

    // The first error any lane reported by the last job.
    std::optional<std::string> error() const {
        for (const auto& l : lanes_) {
            if (l.error) {
                return l.error;
            }
        }
        return {};
    }

private:
    void body(std::size_t index, bool pin) {
        if (pin) {
            apply_placement(placement_, static_cast<std::uint32_t>(index));
        }
        for (;;) {
            start_.arrive_and_wait();
            if (quit_) {
                return;
            }
            lanes_[index].error.reset();
            job_(static_cast<std::uint32_t>(index), lanes_[index]);
            done_.arrive_and_wait();
        }
    }

    std::vector<lane> lanes_;
    threading_manager placement_; // the program's phte list, cycled over the threads
    std::vector<std::thread> threads_;
    std::barrier<> start_;
    std::barrier<> done_;
    std::function<void(std::uint32_t, lane&)> job_;
    bool quit_ = false;
};

// Probe arrays split over the threads, first touched by their own thread.
std::optional<std::string> allocate_probe(crew& c, std::uint64_t total_bytes);
// Summed bandwidth of all threads in bytes per second.
double measure_probe(crew& c);
// One warm-up step, then `steps` timed steps of the family's bare kernels on every thread;
// the summed MGups, warm the slowest warm-up step in seconds. ahead: the prefetching stencil
// probe's distance in bytes.
double measure_kernels(crew& c, const std::string& isa, std::uint64_t steps, bool large,
                       double& warm, std::uint64_t ahead = 0);
std::optional<std::string> build_grids(crew& c, std::uint64_t n, bool normal, bool large);
void release_grids(crew& c);

} // namespace kestrix::bench
