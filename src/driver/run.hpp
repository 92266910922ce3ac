#pragma once
// One complete benchmark run: thread count, placement, header, checks, workers, evaluation.
#include "driver/config.hpp"

#include <optional>

namespace kestrix {

std::optional<double> run_benchmark(bench_config config, topology_cache& cache);
std::uint32_t resolve_thread_count(const bench_config& config, topology_cache& cache);

} // namespace kestrix
