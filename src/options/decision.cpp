#include "options/decision.hpp"

#include "options/table.hpp"

#include "console/log_text.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include <fmt/format.h>

namespace kestrix {

std::string_view program_mode_name(program_mode m) {
    switch (m) {
    case program_mode::animation:
        return "animation";
    case program_mode::help:
        return "help";
    case program_mode::topology:
        return "topology";
    case program_mode::timer_report:
        return "timer_report";
    case program_mode::benchmark:
        return "benchmark";
    case program_mode::none:
        break;
    }
    return "none";
}

std::optional<workload_choice> parse_workload_choice(std::string_view text) {
    for (std::size_t i = 0; i < workload_names.size(); ++i) {
        if (workload_names[i] == text) {
            return static_cast<workload_choice>(i);
        }
    }
    return std::nullopt;
}

std::optional<sweep_variable> parse_sweep_variable(std::string_view text) {
    for (std::size_t i = 0; i < sweep_variable_names.size(); ++i) {
        if (sweep_variable_names[i] == text) {
            return static_cast<sweep_variable>(i);
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> overflow_mul(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && std::numeric_limits<std::uint64_t>::max() / a < b) {
        return std::nullopt;
    }
    return a * b;
}

command_line::command_line() : table(build_option_table(config, harness, modes)) {}

namespace {

option_decision failed(std::string message) {
    option_decision d;
    d.exit_code = 1;
    d.failure = std::move(message);
    return d;
}

option_decision chosen(program_mode mode) {
    option_decision d;
    d.mode = mode;
    return d;
}

} // namespace

option_decision decide_options(command_line& cl, int argc, const char* const* argv) {
    const bench_config& config = cl.config;
    const mode_flags& modes = cl.modes;
    if (parse_outcome outcome = parse(cl.table, argc, argv); !outcome.ok()) {
        return failed(std::move(*outcome.failure));
    }
    if (modes.play_animation) {
        return chosen(program_mode::animation);
    }
    if (std::find(grid_edges.begin(), grid_edges.end(), config.size) == grid_edges.end()) {
        return failed(fmt::format("{}{}', must be one of: {}", log_text::invalid_size, config.size,
                                  size_list_text));
    }
    const std::optional<workload_choice> workload = parse_workload_choice(config.workload);
    if (!workload) {
        return failed(fmt::format("{}{}', must be one of: {}", log_text::invalid_workload,
                                  config.workload, workload_list_text));
    }
    const std::optional<isa_kind> isa = parse_isa_name(config.isa);
    if (!isa) {
        return failed(fmt::format("{}{}', must be one of: {}", log_text::invalid_isa, config.isa,
                                  isa_list_text()));
    }
    if (modes.show_help) {
        return chosen(program_mode::help);
    }
    if (modes.topo_debug) {
        return chosen(program_mode::topology);
    }
    if (modes.timer_debug) {
        return chosen(program_mode::timer_report);
    }
    const std::uint64_t n = config.size;
    const std::uint64_t cells = (n + 2) * (n + 2) * (n + 2); // wraps; caught below
    if (!overflow_mul(cells, 32)) {
        return failed(
            fmt::format("{}{} would overflow memory calculation", log_text::grid_size, n));
    }
    if (!overflow_mul(n, n)) {
        return failed(fmt::format("{}{} would overflow slice buffer", log_text::grid_size, n));
    }
    option_decision d = chosen(program_mode::benchmark);
    d.run = decided_run{
        .threads = config.threads,
        .duration = config.duration,
        .size = config.size,
        // The option table admits only the three policies.
        .placement = parse_placement_name(config.threading).value_or(placement_policy::os),
        .workload = *workload,
        .isa = *isa,
        .strict_isa_check = config.strict_isa_check,
        .large_pages = config.large_pages,
        .bypass_timer_check = config.bypass_timer_check,
    };
    if (const auto variable = parse_sweep_variable(cl.harness.variable)) {
        d.harness = harness_request{.variable = *variable,
                                    .option = cl.harness.option_string,
                                    .sub_runs = cl.harness.sub_runs,
                                    .pause_ms = cl.harness.pause_ms};
    }
    return d;
}

option_decision decide_kestrix_options(std::span<const std::string> args) {
    std::vector<const char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back("kestrix");
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    argv.push_back(nullptr);
    command_line cl;
    return decide_options(cl, static_cast<int>(argv.size() - 1), argv.data());
}

} // namespace kestrix
