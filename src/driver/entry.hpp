#pragma once
#include "driver/config.hpp"
#include "driver/request.hpp"
#include "options/decision.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrix {

// The whole program: parse, dispatch on the mode, exit code 0 or 1. Never throws.
int program_main(int argc, char** argv);

// What the command line asks for after every check that comes before a mode.
struct entry_decision {
    program_mode mode = program_mode::none;
    int exit_code = 0;
    std::optional<std::string> failure; // the one line for standard error; mode none, code 1
    // The benchmark mode's run and harness, resolved from the options.
    run_request request;
    std::optional<harness_request> harness; // none: the option named no known variable
};

// The options' decision (options/decision.hpp) with the benchmark mode's request for the solver.
// Runs no mode and writes nothing, so that any argument vector can be tried in-process.
entry_decision decide_mode(command_line& cl, int argc, const char* const* argv);

} // namespace kestrix
