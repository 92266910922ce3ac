#pragma once
// The resolved run request: what the command line asks for, as typed values. The entry decision
// builds it once; every layer below takes it and parses no name again.
#include "platform/isa.hpp"
#include "platform/placement.hpp"
#include "solver/solver.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

// One benchmark run.
struct run_request {
    std::uint32_t threads = 0; // 0: chosen when the run starts
    std::uint32_t duration = 30;
    std::uint64_t size = 192;
    placement_policy placement = placement_policy::os;
    workload_kind workload = workload_kind::standing_wave;
    isa_kind isa = isa_kind::sse2;
    bool strict_isa_check = false;
    bool large_pages = false;
    bool bypass_timer_check = false;
};

enum class sweep_variable : std::uint8_t { none, size, duration, threads, isa };

inline constexpr std::array<std::string_view, 5> sweep_variable_names = {"none", "size", "duration",
                                                                         "threads", "isa"};

inline std::string_view sweep_variable_name(sweep_variable v) {
    return sweep_variable_names[static_cast<std::size_t>(v)];
}
std::optional<sweep_variable> parse_sweep_variable(std::string_view text);

// The harness: which value to sweep, over which points, how often.
struct harness_request {
    sweep_variable variable = sweep_variable::none;
    std::string option{}; // the sweep points as typed; each variable reads its own form
    std::uint32_t sub_runs = 3;
    std::uint32_t pause_ms = 1;
};

std::string_view workload_name(workload_kind w);
inline std::string_view isa_name(isa_kind i) {
    return isa_names[static_cast<std::size_t>(i)];
}

} // namespace kestrix
