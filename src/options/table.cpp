#include "options/table.hpp"

#include "console/output.hpp"

#include <fmt/format.h>
#include <kestrix/version.hpp>

namespace kestrix {

option_table build_option_table(bench_config& config, harness_settings& harness,
                                mode_flags& modes) {
    option_table t;
    t.add(stop_flag_option(modes.show_help)
              .name("-?")
              .name("-h")
              .name("--help")
              .doc("Display usage information."));
    t.add(value_option(config.threads, "numthreads")
              .name("-n")
              .name("--numthreads")
              .help("Number of threads to use"));
    t.add(value_option(config.duration, "duration")
              .name("-d")
              .name("--duration")
              .help(fmt::format("Bench duration (s) between {}-{}s", min_duration, max_duration)));
    t.add(value_option(config.size, "size")
              .name("-s")
              .name("--size")
              .help(fmt::format("Grid size, one of [{}]", size_list_text)));
    t.add(value_option(config.workload, "workload")
              .name("--workload")
              .help(fmt::format("Workload to use (results with different workloads aren't "
                                "comparable), one of [{}]",
                                workload_list_text)));
    t.add(value_option(config.isa, "isa")
              .name("--isa")
              .help(fmt::format("Instruction set to use for workload/solver, one of [{}]",
                                isa_list_text())));
    t.add(flag_option(config.strict_isa_check)
              .name("--strict-isa-check")
              .help("Don't try to run if the ISA support check fails"));
    t.add(value_option(config.threading, "threading")
              .name("--threading")
              .help("Threading manager to use")
              .choices({"os", "numa", "phte"}));
    t.add(flag_option(config.large_pages).name("--large-pages").help("Use large pages allocator"));
    t.add(flag_option(config.bypass_timer_check)
              .name("--bypass-timer-check")
              .help("Run the bench even if the timer is not HWBOT compliant"));
    t.add(flag_option(modes.topo_debug)
              .name("--topo-debug")
              .help("Print detected topology for debug"));
    t.add(flag_option(modes.timer_debug).name("--timer-debug").help("Printed detected timers"));
    t.add(flag_option(modes.play_animation).name("--kestrix"));
    t.add(value_option(harness.variable, "var")
              .name("--harness-var")
              .help("Variable for the harness to test over")
              .choices({"none", "size", "duration", "threads", "isa"}));
    t.add(value_option(harness.sub_runs, "harness-sub-runs")
              .name("--harness-sub-runs")
              .help("How many times to run the benchmark for each parameter sweep point"));
    t.add(value_option(harness.option_string, "harness-option-string")
              .name("--harness-opt")
              .help("String parsed by selected variable to specify scope if supported"));
    return t;
}

std::vector<std::string> field_size_lines() {
    std::vector<std::string> lines;
    lines.push_back(fmt::format("{:<12}    {:>10}", "field size", "memory used per thread"));
    for (const std::uint64_t n : grid_edges) {
        lines.push_back(fmt::format("  {:<12}    {:>12}", n, format_bytes(grid_bytes(n))));
    }
    lines.push_back(fmt::format("kestrix {} © 2026 the kestrix developers", version_text));
    return lines;
}

void print_help(const option_table& table) {
    write_unflushed(stream::out, format_option_help(table));
    write_line(stream::out, "");
    for (const auto& line : field_size_lines()) {
        write_line(stream::out, line);
    }
}

} // namespace kestrix
