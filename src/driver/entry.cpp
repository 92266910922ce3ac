#include "driver/entry.hpp"

#include "console/animation.hpp"
#include "console/log_text.hpp"
#include "console/output.hpp"
#include "driver/config.hpp"
#include "driver/harness.hpp"
#include "driver/interrupt.hpp"
#include "driver/options.hpp"
#include "driver/run_types.hpp"
#include "platform/isa.hpp"
#include "platform/timer.hpp"
#include "platform/topology.hpp"
#include "solver/solver.hpp"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>

#include <fmt/format.h>

namespace kestrix {

std::optional<std::uint64_t> overflow_mul(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && std::numeric_limits<std::uint64_t>::max() / a < b) {
        return std::nullopt;
    }
    return a * b;
}

command_line::command_line() : table(build_option_table(config, harness, modes)) {}

namespace {

entry_decision failed(std::string message) {
    entry_decision d;
    d.exit_code = 1;
    d.failure = std::move(message);
    return d;
}

entry_decision chosen(program_mode mode) {
    entry_decision d;
    d.mode = mode;
    return d;
}

} // namespace

entry_decision decide_mode(command_line& cl, int argc, const char* const* argv) {
    const bench_config& config = cl.config;
    const mode_flags& modes = cl.modes;
    if (parse_outcome outcome = parse(cl.table, argc, argv); !outcome.ok()) {
        return failed(std::move(*outcome.failure));
    }
    if (modes.play_animation) {
        return chosen(program_mode::animation);
    }
    if (std::find(grid_edges.begin(), grid_edges.end(), config.size) == grid_edges.end()) {
        return failed(
            fmt::format("Invalid size '{}', must be one of: {}", config.size, size_list_text));
    }
    const std::optional<workload_kind> workload = parse_workload_name(config.workload);
    if (!workload) {
        return failed(fmt::format("Invalid workload name '{}', must be one of: {}", config.workload,
                                  workload_list_text));
    }
    const std::optional<isa_kind> isa = parse_isa_name(config.isa);
    if (!isa) {
        return failed(
            fmt::format("Invalid isa name '{}', must be one of: {}", config.isa, isa_list_text()));
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
        return failed(fmt::format("grid size {} would overflow memory calculation", n));
    }
    if (!overflow_mul(n, n)) {
        return failed(fmt::format("grid size {} would overflow slice buffer", n));
    }
    entry_decision d = chosen(program_mode::benchmark);
    d.request = run_request{
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

namespace {

int dispatch(int argc, char** argv) {
    command_line cl;
    topology_cache topology;
    const entry_decision decision = decide_mode(cl, argc, argv);
    if (decision.failure) {
        write_line(stream::err, *decision.failure);
        return decision.exit_code;
    }
    switch (decision.mode) {
    case program_mode::animation:
        run_animation();
        break;
    case program_mode::help:
        print_help(cl.table);
        break;
    case program_mode::topology:
        print_topology(get_topology(topology));
        break;
    case program_mode::timer_report:
        print_timer_report();
        break;
    case program_mode::benchmark:
        begin_interruptible();
        if (decision.harness) {
            const run_env env = real_run_env(topology);
            run_harness(*decision.harness, decision.request, env);
        } else {
            write_line(stream::err,
                       std::string(log_text::harness_unknown_var) + cl.harness.variable);
        }
        end_interruptible(); // an interrupted run ends here
        write_line(stream::out, log_text::press_enter);
        std::getchar();
        break;
    case program_mode::none:
        break;
    }
    return decision.exit_code;
}

} // namespace

int program_main(int argc, char** argv) {
    try {
        console_init();
        return dispatch(argc, argv);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "kestrix: unexpected error: %s\n", e.what());
    } catch (...) {
        std::fflush(stdout);
        std::fputs("kestrix: unexpected error\n", stderr);
    }
    return 1;
}

} // namespace kestrix
