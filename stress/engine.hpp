#pragma once
// The stress run: one pinned worker per selected processor, each stepping its own grid from
// the same start state, field hashes compared at checkpoints, errors named by processor.
#include "stress/verdict.hpp"

#include "platform/isa.hpp"
#include "platform/topology.hpp"
#include "solver/solver.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::stress {

enum class stress_mode : std::uint8_t { all, cycle };

// One bit of one worker's field flipped after a step, before that step's checkpoint. Only
// tests set it: it proves that the checks see a single wrong bit.
struct fault_injection {
    std::uint32_t cpu = 0;   // the worker, by its processor number
    std::uint32_t slice = 0; // the slice it happens in
    std::uint64_t step = 1;  // steps done when it flips (1 = after the first step)
    unsigned bit = 51;       // of the double, 0 = lowest mantissa bit
};

struct stress_settings {
    stress_mode mode = stress_mode::all;
    workload_kind workload = workload_kind::soft_gaussian;
    std::uint64_t size = 64;
    std::vector<isa_kind> variants;
    // The workers' processors. The program gives one per selected processor; tests may name
    // processors that are not there (pinning then fails and the thread runs free).
    std::vector<logical> processors;
    std::chrono::milliseconds duration{0}; // 0: until interrupted or stopped
    std::chrono::milliseconds slice{0};
    bool keep_going = false;
    std::uint64_t check_every = 1; // K
    std::vector<fault_injection> faults;
    // Tests end slices and runs by count, not by time: 0 means no such limit.
    std::uint64_t slice_steps = 0;
    std::uint32_t max_slices = 0;
};

// The system's number of a processor (Linux: the CPU number; Windows: group * 64 + number).
std::uint32_t processor_number(const logical& l);

enum class error_kind : std::uint8_t {
    hash_mismatch,
    disagreement,
    node_check,
    energy_ratio,
    solver
};
const char* error_kind_name(error_kind k);

struct error_event {
    double time_s = 0.0; // since the run started
    error_kind kind = error_kind::hash_mismatch;
    std::vector<std::uint32_t> cpus; // the failing processor, or those that disagree
    isa_kind variant = isa_kind::sse2;
    std::uint64_t step = 0;
    std::string message;
};

struct core_report {
    std::uint32_t cpu = 0;
    std::vector<isa_kind> variants; // those it ran, in first-run order
    double seconds = 0.0;           // time under test
    std::uint64_t checkpoints = 0;  // passed
    std::uint64_t errors = 0;
    std::optional<error_event> first_error;
    bool left_out = false; // failed and left out of later slices (--keep-going)
};

// What the status line shows.
struct stress_progress {
    double elapsed_s = 0.0;
    std::vector<std::uint32_t> cpus; // of the running slice
    isa_kind variant = isa_kind::sse2;
    std::uint64_t checkpoints = 0;
    std::uint64_t errors = 0;
    std::uint32_t slice = 0;
};

struct stress_outcome {
    std::vector<core_report> cores; // in the order of the settings' processors
    std::vector<error_event> errors;
    std::optional<std::string> setup_error; // set-up failed (memory, a variant): exit 2
    bool interrupted = false;
    double elapsed_s = 0.0;
};

// How the run reaches the system; tests replace the pinning.
struct stress_environment {
    std::function<void(const logical&)> pin;
    std::function<bool()> interrupted = [] { return false; };
    // Called about ten times a second from the thread that called run_stress.
    std::function<void(const stress_progress&, const std::vector<core_report>&)> tick;
    // Called when an error is recorded (from a worker thread, no lock held).
    std::function<void(const error_event&)> on_error;
};

stress_outcome run_stress(const stress_settings& s, const stress_environment& env);

// Steps needed so that hashing (hash_ns per checkpoint) costs at most share of the time
// of stepping (step_ns per step).
std::uint64_t checkpoint_interval(double hash_ns, double step_ns, double share);

// Times a few steps and hashes of each variant on this thread; the interval for the fastest.
struct calibration {
    std::uint64_t check_every = 1;
    double hash_to_step = 0.0; // hashing time over step time, fastest variant
    std::optional<std::string> error;
};
calibration calibrate(workload_kind workload, std::uint64_t size,
                      const std::vector<isa_kind>& variants);

} // namespace kestrix::stress
