#pragma once
// One system fact: its value and where it came from, or why there is none.
#include <optional>
#include <string>
#include <utility>

namespace kestrix::results {

template <typename T> struct fact {
    std::optional<T> value;
    std::string source;      // where the value came from ("cpuid leaf 0", a file, a key)
    std::string unavailable; // why there is no value; empty when there is one

    static fact known(T v, std::string from) { return fact{std::move(v), std::move(from), {}}; }
    static fact missing(std::string why) { return fact{std::nullopt, {}, std::move(why)}; }
    bool operator==(const fact&) const = default;
};

} // namespace kestrix::results
