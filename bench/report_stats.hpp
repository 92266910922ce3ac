#pragma once
// Pure helpers of the bench report: robust summaries of repeated measurements and the
// parsing of its list options.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::bench {

// Median of the values (mean of the middle two for an even count); 0 for none.
double median(std::vector<double> values);

// (max - min) / median, 0 when there are fewer than two values or the median is 0.
double relative_spread(const std::vector<double>& values);

// Medians of per-repetition ratios a[i] / b[i]: pairs measured close together in time cancel
// the slow drift of a shared machine. Pairs with a zero or non-finite divisor are skipped.
double median_ratio(const std::vector<double>& a, const std::vector<double>& b);

// "64,128,192" -> {64, 128, 192}; "all" stands for all_value. Empty, zero, repeated or
// non-numeric entries make the whole list invalid.
std::optional<std::vector<std::uint64_t>> parse_count_list(std::string_view text,
                                                           std::uint64_t all_value);

// "sse2,fma" -> {"sse2", "fma"}; names are not checked here.
std::vector<std::string> split_list(std::string_view text);

// Steps that make a measurement last at least min_seconds when one step took step_seconds;
// at least 1, at most cap.
std::uint64_t steps_for(double min_seconds, double step_seconds, std::uint64_t cap);

} // namespace kestrix::bench
