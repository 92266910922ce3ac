#pragma once
// Turns a finished run into its score, or into no score.
#include "driver/run_types.hpp"

#include <optional>
#include <string_view>

namespace kestrix {

inline constexpr std::int64_t timer_tolerance_ms = 32;

// The request names the workload and the instruction set in the valid banner.
std::optional<double> evaluate_run(const run_state& state, const run_request& request,
                                   std::string_view brand, console_sink& sink);

void print_invalid_banner(console_sink& sink);

// "{:.2f} MGups" above 100, else "{:.4g} MGups".
std::string format_score(double score);

} // namespace kestrix
