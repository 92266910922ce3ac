#pragma once
// The harness: planned runs (sweep points) x sub-runs, and the results table.
#include "driver/request.hpp"
#include "driver/sweep.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kestrix {

class console_sink;
struct run_env;

// Plans the sweep, runs every point sub_runs times on env and prints the table.
void run_harness(const harness_request& harness, const run_request& base, const run_env& env);

// Seconds the plan is expected to take; saturates instead of wrapping.
std::uint64_t harness_estimate(const run_list& runs, std::uint32_t sub_runs,
                               std::uint32_t pause_ms);

// Runs one sub-run of a point: its score or none.
using point_runner = std::function<std::optional<double>(const run_request&)>;

// Every planned run sub_runs times, with the markers and the pause; scores grow as sub-runs
// complete.
void execute_runs(run_list& runs, std::uint32_t sub_runs, std::uint32_t pause_ms,
                  const point_runner& run, console_sink& sink);

void print_results_table(sweep_variable variable, const run_list& runs, std::uint32_t sub_runs,
                         console_sink& sink);

} // namespace kestrix
