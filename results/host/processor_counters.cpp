#include "processor_counters.hpp"

#include <cmath>

namespace kestrix::results {

namespace {

// Decimal digits only, no sign or blank; none when empty or above `max`.
std::optional<std::uint32_t> counter_instance_number(std::wstring_view digits, std::uint32_t max) {
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint64_t n = 0;
    for (const wchar_t c : digits) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        n = n * 10 + static_cast<std::uint64_t>(c - L'0');
        if (n > max) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(n);
}

} // namespace

std::optional<std::size_t> processor_position(std::wstring_view instance,
                                              std::span<const std::uint32_t> group_sizes) {
    const auto comma = instance.find(L',');
    if (comma == std::wstring_view::npos) {
        return std::nullopt;
    }
    // A group holds at most 64 processors (one affinity mask); there are at most 65536 groups.
    const auto group = counter_instance_number(instance.substr(0, comma), 0xFFFF);
    const auto number = counter_instance_number(instance.substr(comma + 1), 63);
    if (!group || !number || *group >= group_sizes.size() || *number >= group_sizes[*group]) {
        return std::nullopt;
    }
    std::size_t position = *number;
    for (std::size_t g = 0; g < *group; ++g) {
        position += group_sizes[g];
    }
    return position;
}

std::optional<double> effective_mhz(double performance_percent, double nominal_mhz) {
    // No processor runs at ten times its nominal clock: a larger value is a counter fault.
    if (!std::isfinite(performance_percent) || !std::isfinite(nominal_mhz) ||
        performance_percent <= 0 || performance_percent > 1000 || nominal_mhz <= 0) {
        return std::nullopt;
    }
    return performance_percent / 100 * nominal_mhz;
}

} // namespace kestrix::results
