#include "driver/entry.hpp"

#include "cli/options.hpp"
#include "console/animation.hpp"
#include "console/output.hpp"
#include "driver/config.hpp"
#include "driver/harness.hpp"
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

namespace {

int fail(std::string_view message) {
    write_line(stream::err, message);
    return 1;
}

int dispatch(int argc, char** argv) {
    bench_config config;
    mode_flags modes;
    harness_settings harness;
    topology_cache topology;

    option_table table = build_option_table(config, harness, modes);
    if (const parse_outcome outcome = parse(table, argc, argv); !outcome.ok()) {
        return fail(*outcome.failure);
    }

    if (modes.play_animation) {
        run_animation();
        return 0;
    }
    if (std::find(grid_edges.begin(), grid_edges.end(), config.size) == grid_edges.end()) {
        return fail(
            fmt::format("Invalid size '{}', must be one of: {}", config.size, size_list_text));
    }
    if (!is_known_workload(config.workload)) {
        return fail(fmt::format("Invalid workload name '{}', must be one of: {}", config.workload,
                                workload_list_text));
    }
    if (!is_valid_isa_name(config.isa)) {
        return fail(
            fmt::format("Invalid isa name '{}', must be one of: {}", config.isa, isa_list_text));
    }
    if (modes.show_help) {
        print_help(table);
        return 0;
    }
    if (modes.topo_debug) {
        print_topology(get_topology(topology));
        return 0;
    }
    if (modes.timer_debug) {
        print_timer_report();
        return 0;
    }

    const std::uint64_t n = config.size;
    const std::uint64_t cells = (n + 2) * (n + 2) * (n + 2); // wraps; caught below
    if (!overflow_mul(cells, 32)) {
        return fail(fmt::format("grid size {} would overflow memory calculation", n));
    }
    if (!overflow_mul(n, n)) {
        return fail(fmt::format("grid size {} would overflow slice buffer", n));
    }

    run_harness(harness, kestrix_harness_context{config, topology});

    write_line(stream::out, "press enter to exit");
    std::getchar();
    return 0;
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
