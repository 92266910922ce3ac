#include "report_stats.hpp"

#include "analysis/statistics.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kestrix::bench {

double median(std::vector<double> values) {
    return statistics::median(std::move(values));
}

double relative_spread(const std::vector<double>& values) {
    if (values.size() < 2) {
        return 0.0;
    }
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const double m = median(values);
    return m == 0.0 ? 0.0 : (*hi - *lo) / m;
}

double median_ratio(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> ratios;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (b[i] != 0.0 && std::isfinite(b[i]) && std::isfinite(a[i])) {
            ratios.push_back(a[i] / b[i]);
        }
    }
    return median(std::move(ratios));
}

std::vector<std::string> split_list(std::string_view text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        const std::size_t end = comma == std::string_view::npos ? text.size() : comma;
        out.emplace_back(text.substr(start, end - start));
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    return out;
}

std::optional<std::vector<std::uint64_t>> parse_count_list(std::string_view text,
                                                           std::uint64_t all_value) {
    std::vector<std::uint64_t> out;
    for (const std::string& item : split_list(text)) {
        std::uint64_t v = 0;
        if (item == "all") {
            v = all_value;
        } else {
            const char* first = item.data();
            const char* last = item.data() + item.size();
            const auto [ptr, ec] = std::from_chars(first, last, v);
            if (item.empty() || ec != std::errc() || ptr != last) {
                return std::nullopt;
            }
        }
        if (v == 0 || std::find(out.begin(), out.end(), v) != out.end()) {
            return std::nullopt;
        }
        out.push_back(v);
    }
    return out;
}

std::uint64_t steps_for(double min_seconds, double step_seconds, std::uint64_t cap) {
    if (!(step_seconds > 0.0) || !std::isfinite(step_seconds)) {
        return 1;
    }
    const double want = std::ceil(min_seconds / step_seconds);
    if (!(want >= 1.0)) {
        return 1;
    }
    if (want >= static_cast<double>(cap)) {
        return cap;
    }
    return static_cast<std::uint64_t>(want);
}

} // namespace kestrix::bench
