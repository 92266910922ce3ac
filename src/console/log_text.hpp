#pragma once
// The fixed texts of kestrix's console output, shared by the code that writes them and by
// kestrix-results, which reads saved output back. Each line kestrix writes is known by one of
// these at a fixed place (its start, its end, or the whole line), so a reader needs no grammar
// of its own and the two cannot drift apart. Changing a text here changes kestrix's output.
#include <array>
#include <string_view>

namespace kestrix::log_text {

// The sweep harness.
inline constexpr std::string_view harness = "!!HARNESS!!";
inline constexpr std::string_view harness_values = "!!HARNESS!! run values:";
inline constexpr std::string_view harness_estimate = "!!HARNESS!! estimated total time = ";
inline constexpr std::string_view harness_run = "!!HARNESS!! run "; // then "k/n"
inline constexpr std::string_view results_open = "=====";           // "=====size results====="
inline constexpr std::string_view results_close = " results=====";
inline constexpr std::string_view results_average = "avg";
inline constexpr std::string_view results_spread = "max/min";
inline constexpr std::string_view no_value = "---";
inline constexpr std::string_view harness_unknown_var = "unknown var ";
inline constexpr std::string_view harness_no_runs = "couldn't generate runs for harness for ";
inline constexpr std::string_view harness_no_memory =
    "not enough memory to plan the harness runs for ";

// One run, in the order it writes them (after the brand and feature lines).
inline constexpr std::string_view running_with = "running with "; // "N thread(s) (placement)"
inline constexpr std::string_view grid = " grid";                 // "N x N x N grid"
inline constexpr std::string_view per_thread = " per thread";
inline constexpr std::string_view total = " total";
inline constexpr std::string_view fast_timer_frequency = "Fast Timer Frequency: ";
inline constexpr std::string_view coarse_timer_frequency = "Coarse Timer Frequency: ";
inline constexpr std::string_view allocating = "allocating fields.... ";
inline constexpr std::string_view large_pages = "(large pages)";
inline constexpr std::string_view initializing = "initalizing fields...";
inline constexpr std::string_view initialization_took = "initialization took "; // then "Nms"
inline constexpr std::string_view milliseconds = "ms";
inline constexpr std::string_view starting = "starting bench..";
inline constexpr std::string_view progress = "benchmarking... "; // "e/ds  rate MGups  n iterations"
inline constexpr std::string_view validating = "validating result..";
inline constexpr std::array<std::string_view, 5> thread_columns = {"thread", "grid updates", "time",
                                                                   "MGups", "iterations"};
inline constexpr std::string_view valid_result = "  valid result ";
inline constexpr std::string_view invalid_result = "  invalid result ";
inline constexpr std::string_view warning = "  warning  ";
inline constexpr std::string_view version_banner = "kestrix v"; // "kestrix vX workload isa"
inline constexpr std::string_view final_score = "final score: ";
inline constexpr std::string_view mgups = " MGups";
inline constexpr std::string_view iterations = " iterations";
inline constexpr std::string_view aborting = "; aborting";
inline constexpr std::string_view press_enter = "press enter to exit";

// The first line of a refused command line, from the option parser and the option decision.
inline constexpr std::string_view unrecognized_token = "Unrecognized token: ";
inline constexpr std::string_view expected_argument = "Expected argument following ";
inline constexpr std::string_view unable_to_convert = "Unable to convert '";
inline constexpr std::string_view value_not_expected = "Value '";
inline constexpr std::string_view flag_with_value = "Flag option '";
inline constexpr std::string_view invalid_size = "Invalid size '";
inline constexpr std::string_view invalid_workload = "Invalid workload name '";
inline constexpr std::string_view invalid_isa = "Invalid isa name '";
inline constexpr std::string_view grid_size = "grid size ";
inline constexpr std::array<std::string_view, 10> option_errors = {
    unrecognized_token, expected_argument, unable_to_convert, value_not_expected, flag_with_value,
    "Option '",         invalid_size,      invalid_workload,  invalid_isa,        grid_size};
inline constexpr std::string_view usage = "USAGE:";

// The topology and timer reports of the platform layer.
inline constexpr std::string_view topo_levels = "perf_level_count=";
inline constexpr std::string_view topo_numa = "numa node id=";
inline constexpr std::string_view topo_llc = "|--llc id=";
inline constexpr std::string_view topo_core = "|  |--core id=";
inline constexpr std::string_view topo_perf_level = " perf_level=";
inline constexpr std::string_view topo_logical = "|  |  |--logical idx=";
inline constexpr std::string_view topo_os = " os=";
inline constexpr std::string_view timer_fast = "Fast timer: ";
inline constexpr std::string_view timer_coarse = "Coarse timer: ";
inline constexpr std::string_view timer_underlying = "underlying frequency: ";
inline constexpr std::string_view timer_report = "report frequency: ";
inline constexpr std::string_view timer_compliant = "Fast timer is hwbot compliant";
inline constexpr std::string_view timer_not_compliant =
    "Fast timer is not compliant with HWBOT rules";
inline constexpr std::string_view timer_tsc = "tsc: ";
inline constexpr std::string_view timer_crystal = "crystal: ";
inline constexpr std::string_view timer_invariant = "invariant: ";
inline constexpr std::string_view timer_family = "detected family: ";
inline constexpr std::string_view timer_tsc_info = "tsc info:";
inline constexpr std::string_view timer_intel = "Intel detected";
inline constexpr std::string_view timer_amd = "AMD detected";
inline constexpr std::string_view timer_unknown_vendor = "unknown vendor";

} // namespace kestrix::log_text
