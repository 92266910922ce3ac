#pragma once
// kestrix-stress's command line, turned once into typed settings.
#include "stress/engine.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::stress {

struct stress_options {
    stress_mode mode = stress_mode::all;
    std::optional<std::vector<std::uint32_t>> cores; // --cores, by processor number
    bool smt = false;
    std::optional<std::vector<isa_kind>> variants; // --isa
    std::optional<std::chrono::milliseconds> slice;
    // Absent: one slice of every variant (all) or of every (core, variant) pair (cycle).
    std::optional<std::chrono::milliseconds> duration;
    bool keep_going = false;
    workload_kind workload = workload_kind::soft_gaussian;
    std::uint64_t size = 64;
    std::string out; // --out, empty: no record
    bool help = false;
    bool version = false;
};

struct parsed_options {
    stress_options options;
    std::optional<std::string> error; // usage error, exit 2
};

parsed_options parse_options(const std::vector<std::string>& args);

// "10m", "6h", "90s", "90" (seconds), "1h30m"; nothing when malformed or too long.
std::optional<std::chrono::milliseconds> parse_duration(std::string_view text);
// "0-7,12": sorted, without repeats; nothing when malformed.
std::optional<std::vector<std::uint32_t>> parse_cpu_list(std::string_view text);
// 0:05:07, or 1d 2:03:04
std::string clock_text(double seconds);

extern const char* const help_text;

} // namespace kestrix::stress
