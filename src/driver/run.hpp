#pragma once
// One complete benchmark run: thread count, placement, header, checks, workers, evaluation.
#include "driver/request.hpp"

#include <optional>

namespace kestrix {

struct run_env;

// The run's score, or nothing when it has none. The duration is clamped to 1 .. 1000 s here.
std::optional<double> run_benchmark(const run_request& request, const run_env& env);

// The request's thread count, or the automatic one when it is 0.
std::uint32_t resolve_thread_count(const run_request& request, const run_env& env);

} // namespace kestrix
