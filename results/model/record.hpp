#pragma once
// The record: one kestrix invocation, as C++ types. to_json/from_json below are the one place
// that knows its JSON shape (docs/record.schema.json); everything else works on these types.
// std::optional is JSON null: not known, or not shown by kestrix.
#include "model/conditions.hpp"
#include "model/sensors.hpp"
#include "model/timeline.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrix::results {

inline constexpr int schema_version = 2;

// A record whose JSON does not have the record's shape; what() names the field.
struct record_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What kestrix was doing. Later record kinds (telemetry, stress, suite) add values.
enum class run_mode { benchmark, topology, timers, help, error, suite };
const char* mode_name(run_mode m);
std::optional<run_mode> mode_from_name(const std::string& s);

struct thread_row {
    std::uint64_t thread = 0;
    std::uint64_t grid_updates = 0;
    std::optional<double> time_s, mgups;
    std::uint64_t iterations = 0;
};

struct progress_line {
    std::int64_t elapsed_s = 0;
    std::uint64_t duration_s = 0;
    std::optional<double> mgups;
    std::uint64_t iterations = 0;
};

struct timer_frequency {
    std::string frequency;
    std::optional<std::string> source; // the fast timer's only
};

struct sub_run {
    std::uint64_t index = 0; // 1-based, as in "!!HARNESS!! run k/n"
    std::string point;
    bool valid = false;
    std::optional<double> score;
    std::optional<std::string> reason; // why there is no score
    std::vector<std::string> messages; // lines outside kestrix's fixed texts (its errors)
    std::vector<std::string> warnings; // the support check's reasons under a warning box
    std::optional<std::string> brand;
    std::optional<std::vector<std::string>> features;
    std::optional<std::uint64_t> threads;
    std::optional<std::string> threading;
    std::optional<std::uint64_t> grid;
    std::optional<std::uint64_t> duration;
    std::optional<std::string> memory_per_thread, memory_total;
    std::optional<bool> large_pages;
    std::optional<std::string> workload, isa;
    std::optional<std::int64_t> initialization_ms;
    std::optional<timer_frequency> fast_timer, coarse_timer;
    std::optional<progress_line> progress; // the last one
    std::optional<std::vector<thread_row>> thread_table;
    std::optional<score_timeline> timeline; // null: no arrival times (imports, older records)
    std::optional<sub_run_sensors> sensors; // null: not sampled (imports, --sample-interval 0)
};

struct results_row {
    std::string label;
    std::vector<std::optional<double>> scores;
    std::optional<double> average, spread_percent;
};

struct harness_info {
    std::vector<std::string> points;
    std::optional<std::string> estimate;
    std::optional<std::string> variable;
    std::optional<std::uint64_t> total_sub_runs, sub_runs_per_point;
    std::optional<std::vector<results_row>> table;
};

struct topology_report {
    std::uint64_t performance_levels = 0, numa_nodes = 0, last_level_caches = 0, cores = 0,
                  logical_processors = 0;
    std::vector<std::string> lines;
};

struct timer_source_report {
    std::optional<std::string> source, underlying_frequency, report_frequency;
};

struct timer_report {
    timer_source_report fast, coarse;
    std::optional<bool> hwbot_compliant, invariant_tsc;
    std::optional<std::string> tsc_frequency, crystal_frequency, brand, vendor;
    std::optional<std::int64_t> family, model;
    std::vector<std::string> lines;
};

struct diagnostics {
    std::optional<topology_report> topology;
    std::optional<timer_report> timers;
    std::optional<std::vector<std::string>> help;
    std::optional<std::string> error;
};

// kestrix's settings. Every field may be unknown.
struct settings {
    std::optional<std::string> workload, isa, threading, harness_var, harness_opt;
    std::optional<std::uint64_t> size, duration, threads, sub_runs;
    std::optional<bool> large_pages, strict_isa_check, bypass_timer_check;
};

struct options_block {
    std::optional<std::vector<std::string>> given; // as typed after "--"; null for import
    std::optional<settings> decided;               // as kestrix decides them from `given`
    settings shown;    // what the output showed (the header's thread count, grid, ...)
    settings resolved; // shown, else decided: what the tables and names use
};

struct child_info {
    int exit_code = -1;
    bool signaled = false;
    bool interrupted = false;
};

// One fact about the machine: its value and where it came from, or why it is not known.
struct system_fact {
    nlohmann::json value; // null when unavailable
    std::optional<std::string> source;
    std::optional<std::string> unavailable;
};

struct processor_info {
    std::optional<std::string> brand;
    std::optional<std::vector<std::string>> features;
};

// The processor as the timer rule decodes it (a brand search and the base family only).
struct timer_rule_block {
    std::optional<std::string> vendor; // "intel", "amd", "other"
    std::optional<std::int64_t> family, model;
};

struct topology_counts {
    std::optional<std::uint64_t> packages, numa_nodes, last_level_caches, cores, logical_processors,
        performance_levels;
};

struct system_block {
    std::string source; // "this machine", "log", "version 1 record"
    std::string note;
    processor_info processor;
    timer_rule_block timer_rule;
    // Named facts about the machine ("cpu.vendor", "board.vendor", ...); null when this build
    // of kestrix-results does not gather them.
    std::optional<std::map<std::string, system_fact>> facts;
    topology_counts topology;
    std::optional<std::uint64_t> memory_total_bytes, memory_available_bytes;
    std::optional<std::string> os_name, os_version, kernel;
    std::optional<std::string> host;
    std::optional<std::string> start_utc, end_utc;
    std::optional<root_info> root; // null where no system file was read (import, Windows)
};

struct build_info {
    std::string program = "kestrix-results";
    std::string version;
    std::string compiler;
    std::string target;
};

// One of the standard run's four measurements: one kestrix invocation of three sub-runs.
struct suite_part {
    std::string name;                          // "single", "all", "single_baseline", "all_baseline"
    std::string isa;                           // the variant it ran
    std::uint32_t threads_option = 0;          // -n as given: 1, or 0 for kestrix's automatic count
    std::optional<std::uint64_t> threads;      // as the run showed
    std::vector<std::optional<double>> scores; // one per sub-run, null without a score
    std::optional<double> median;              // of the scores, when every sub-run scored
    std::optional<std::string> reason;         // why there is no median
    int exit_code = -1;                        // kestrix's
};

// The standard run (`suite`): both headline numbers with the widest runnable variant and with
// sse2. Its sub-runs are the record's sub_runs, their point naming the part.
struct suite_info {
    bool quick = false;
    std::uint64_t duration_s = 30;
    std::string widest;               // the widest variant this processor can execute
    std::vector<std::string> checked; // variants checked, widest first, up to the widest
    std::vector<suite_part> parts;
};

struct record {
    std::string source = "import"; // "run" or "import"
    std::string label;
    run_mode mode = run_mode::benchmark;
    bool complete = false;
    std::optional<std::string> incomplete_reason;
    std::optional<std::string> error; // mode error: kestrix's own message
    std::optional<std::string> imported_from;
    std::optional<int> migrated_from; // the schema version this record was read from
    std::optional<std::string> kestrix_version, kestrix_path;
    std::optional<child_info> child;
    options_block options;
    std::vector<sub_run> sub_runs;
    std::optional<harness_info> harness;
    std::vector<std::string> messages;
    diagnostics diag;
    system_block system;
    std::optional<run_conditions> conditions; // run only: checked before kestrix started
    build_info results_build;
    std::optional<suite_info> suite; // mode suite only

    int valid_sub_runs() const;
    int invalid_sub_runs() const;
};

void to_json(nlohmann::json& j, const thread_row& v);
void from_json(const nlohmann::json& j, thread_row& v);
void to_json(nlohmann::json& j, const progress_line& v);
void from_json(const nlohmann::json& j, progress_line& v);
void to_json(nlohmann::json& j, const timer_frequency& v);
void from_json(const nlohmann::json& j, timer_frequency& v);
void to_json(nlohmann::json& j, const sub_run& v);
void from_json(const nlohmann::json& j, sub_run& v);
void to_json(nlohmann::json& j, const results_row& v);
void from_json(const nlohmann::json& j, results_row& v);
void to_json(nlohmann::json& j, const harness_info& v);
void from_json(const nlohmann::json& j, harness_info& v);
void to_json(nlohmann::json& j, const topology_report& v);
void from_json(const nlohmann::json& j, topology_report& v);
void to_json(nlohmann::json& j, const timer_source_report& v);
void from_json(const nlohmann::json& j, timer_source_report& v);
void to_json(nlohmann::json& j, const timer_report& v);
void from_json(const nlohmann::json& j, timer_report& v);
void to_json(nlohmann::json& j, const diagnostics& v);
void from_json(const nlohmann::json& j, diagnostics& v);
void to_json(nlohmann::json& j, const settings& v);
void from_json(const nlohmann::json& j, settings& v);
void to_json(nlohmann::json& j, const options_block& v);
void from_json(const nlohmann::json& j, options_block& v);
void to_json(nlohmann::json& j, const child_info& v);
void from_json(const nlohmann::json& j, child_info& v);
void to_json(nlohmann::json& j, const system_fact& v);
void from_json(const nlohmann::json& j, system_fact& v);
void to_json(nlohmann::json& j, const system_block& v);
void from_json(const nlohmann::json& j, system_block& v);
void to_json(nlohmann::json& j, const build_info& v);
void from_json(const nlohmann::json& j, build_info& v);
void to_json(nlohmann::json& j, const suite_part& v);
void from_json(const nlohmann::json& j, suite_part& v);
void to_json(nlohmann::json& j, const suite_info& v);
void from_json(const nlohmann::json& j, suite_info& v);
void to_json(nlohmann::json& j, const record& v);
void from_json(const nlohmann::json& j, record& v);

} // namespace kestrix::results
