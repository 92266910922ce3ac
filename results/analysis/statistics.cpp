#include "analysis/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kestrix::statistics {

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

double mean(const std::vector<double>& values) {
    if (values.empty()) {
        return 0.0;
    }
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

std::optional<double> sample_sd(const std::vector<double>& values) {
    if (values.size() < 2) {
        return std::nullopt;
    }
    const double m = mean(values);
    double ss = 0;
    for (double x : values) {
        ss += (x - m) * (x - m);
    }
    return std::sqrt(ss / static_cast<double>(values.size() - 1));
}

std::optional<double> cv_percent(const std::vector<double>& values) {
    const auto sd = sample_sd(values);
    const double m = mean(values);
    if (!sd || !(m > 0)) {
        return std::nullopt;
    }
    return *sd / m * 100.0;
}

bool noisy(const std::optional<double>& cv) {
    return cv && *cv > noisy_cv_percent;
}

} // namespace kestrix::statistics
