#pragma once
#include "cli/parser.hpp"
#include "driver/config.hpp"
#include "driver/request.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrix {

// The whole program: parse, dispatch on the mode, exit code 0 or 1. Never throws.
int program_main(int argc, char** argv);

// a * b, or nothing when the product does not fit 64 bits.
std::optional<std::uint64_t> overflow_mul(std::uint64_t a, std::uint64_t b);

enum class program_mode { none, animation, help, topology, timer_report, benchmark };

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

// What the command line asks for after every check that comes before a mode.
struct entry_decision {
    program_mode mode = program_mode::none;
    int exit_code = 0;
    std::optional<std::string> failure; // the one line for standard error; mode none, code 1
    // The benchmark mode's run and harness, resolved from the options.
    run_request request;
    std::optional<harness_request> harness; // none: the option named no known variable
};

// Parses the arguments into cl and applies the checks in their order of precedence; for the
// benchmark mode it resolves the request. Runs no mode and writes nothing, so that any
// argument vector can be tried in-process.
entry_decision decide_mode(command_line& cl, int argc, const char* const* argv);

} // namespace kestrix
