#pragma once
// Summaries of repeated measurements, shared by kestrix-results and the bench report.
#include <optional>
#include <vector>

namespace kestrix::statistics {

// A point whose sub-runs vary more than this (coefficient of variation, percent) is marked.
inline constexpr double noisy_cv_percent = 3.5;

// Median of the values (mean of the middle two for an even count); 0 for none.
double median(std::vector<double> values);

// Arithmetic mean; 0 for none.
double mean(const std::vector<double>& values);

// Sample standard deviation (n - 1); none below two values.
std::optional<double> sample_sd(const std::vector<double>& values);

// sd / mean in percent; none below two values or for a mean that is not positive.
std::optional<double> cv_percent(const std::vector<double>& values);

bool noisy(const std::optional<double>& cv);

} // namespace kestrix::statistics
