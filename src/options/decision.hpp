#pragma once
// What kestrix's command line decides, before any mode runs: the mode or the one usage line, and
// the run and harness as typed values. kestrix and kestrix-results both decide through here, so
// the two programs cannot read an option differently.
#include "cli/parser.hpp"
#include "options/settings.hpp"
#include "platform/isa.hpp"
#include "platform/placement.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrix {

enum class program_mode { none, animation, help, topology, timer_report, benchmark };
std::string_view program_mode_name(program_mode m);

// The two workloads, in the solver's workload_kind order (the driver converts between them).
enum class workload_choice : std::uint8_t { standing_wave, soft_gaussian };
inline constexpr std::array<std::string_view, 2> workload_names = {"standing_wave",
                                                                   "soft_gaussian"};
inline std::string_view workload_choice_name(workload_choice w) {
    return workload_names[static_cast<std::size_t>(w)];
}
// Exact, case-sensitive comparison with the names.
std::optional<workload_choice> parse_workload_choice(std::string_view text);

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

// One benchmark run as the options decide it.
struct decided_run {
    std::uint32_t threads = 0; // 0: chosen when the run starts
    std::uint32_t duration = 30;
    std::uint64_t size = 192;
    placement_policy placement = placement_policy::os;
    workload_choice workload = workload_choice::standing_wave;
    isa_kind isa = isa_kind::sse2;
    bool strict_isa_check = false;
    bool large_pages = false;
    bool bypass_timer_check = false;
};

// a * b, or nothing when the product does not fit 64 bits.
std::optional<std::uint64_t> overflow_mul(std::uint64_t a, std::uint64_t b);

// The run configuration, the harness settings and the mode flags at their defaults, with the
// option table bound to them. Not copyable: the table points into the other members.
struct command_line {
    bench_config config;
    harness_settings harness;
    mode_flags modes;
    option_table table;

    command_line();
    command_line(const command_line&) = delete;
    command_line& operator=(const command_line&) = delete;
};

struct option_decision {
    program_mode mode = program_mode::none;
    int exit_code = 0;
    std::optional<std::string> failure; // the one line for standard error; mode none, code 1
    // Present in the benchmark mode only.
    std::optional<decided_run> run;
    std::optional<harness_request> harness; // none: the option named no known variable
};

// Parses the arguments into cl and applies the checks in their order of precedence. Runs no
// mode and writes nothing, so that any argument vector can be tried in-process.
option_decision decide_options(command_line& cl, int argc, const char* const* argv);

// The same for kestrix's argument list as a parent process passes it (without the program
// name): what kestrix decides for those arguments.
option_decision decide_kestrix_options(std::span<const std::string> args);

} // namespace kestrix
