#pragma once
// Turns a finished run into its score, or into no score.
#include "driver/run_types.hpp"

#include <optional>
#include <string_view>

namespace kestrix {

inline constexpr std::int64_t timer_tolerance_ms = 32;

std::optional<double> evaluate_run(const run_state& state, std::string_view brand);
// The same with the host processor's brand string.
std::optional<double> evaluate_run(const run_state& state);

void print_invalid_banner();

// "{:.2f} MGups" above 100, else "{:.4g} MGups".
std::string format_score(double score);

} // namespace kestrix
