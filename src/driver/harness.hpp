#pragma once
// The harness: planned runs (sweep points) x sub-runs, and the results table.
#include "driver/config.hpp"

#include <cstdint>
#include <vector>

namespace kestrix {

void run_harness(harness_settings& settings, const kestrix_harness_context& context);

// Seconds the plan is expected to take; saturates instead of wrapping.
std::uint64_t harness_estimate(const std::vector<bench_box::harness_run>& runs,
                               std::uint32_t sub_runs, std::uint32_t pause_ms);

// Every planned run sub_runs times, with the markers and the pause; scores grow as sub-runs
// complete.
void execute_runs(harness_settings& settings);

void print_results_table(const harness_settings& settings);

} // namespace kestrix
