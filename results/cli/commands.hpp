#pragma once
// The command line of kestrix-results: run, import, show, compare, report. Each command has
// its options record, a setup function that adds it to the parser, and its action.
#include "analysis/views.hpp"
#include "capture/sensor_series.hpp"
#include "model/record.hpp"
#include "process/child.hpp"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

// Exit codes: 0 every sub-run scored, 1 some sub-run without a score, 2 our own usage error
// or unusable input.
int results_main(const std::vector<std::string>& args);

struct run_options {
    std::string out_dir = "kestrix-results";
    std::string label;
    bool no_host = false;
    std::string kestrix; // empty: the one beside this program
    std::vector<std::string> kestrix_args;
    double score_interval_s = 1.0;
    double sample_interval_s = 1.0; // 0: no sensor sampling
};
CLI::App* setup_run(CLI::App& app, run_options& o);
int run_command(const run_options& o);

struct suite_options {
    bool quick = false;
    std::string out_dir = "kestrix-results";
    std::string label;
    bool no_host = false;
    std::string kestrix;
    double sample_interval_s = 1.0;
};
CLI::App* setup_suite(CLI::App& app, suite_options& o);
int suite_command(const suite_options& o);

struct fleet_options {
    std::vector<std::string> paths;
    std::string metric = "all";
    double z_limit = -3.5;
    double below_percent = 5.0;
    std::string expect; // host names that must have a record (comma or blank separated)
    std::string format = "md";
};
CLI::App* setup_fleet(CLI::App& app, fleet_options& o);
int fleet_command(const fleet_options& o);

struct import_options {
    std::string out_dir = "kestrix-results";
    std::string label;
    std::vector<std::string> logs;
};
CLI::App* setup_import(CLI::App& app, import_options& o);
int import_command(const import_options& o);

enum class table_format { md, csv, json };

struct table_options {
    std::vector<std::string> files;
    std::string format = "md";
    bool series = false; // show: the score over time instead of the table
};
CLI::App* setup_show(CLI::App& app, table_options& o);
CLI::App* setup_compare(CLI::App& app, table_options& o);
// The text show / compare print, for records already read.
std::string show_text(const std::vector<record_view>& views, table_format f);
std::string compare_text(const std::vector<record_view>& views, table_format f);
table_format format_of(const std::string& s);
int show_command(const table_options& o);
int compare_command(const table_options& o);

struct report_options {
    std::vector<std::string> files;
    std::string output;
};
CLI::App* setup_report(CLI::App& app, report_options& o);
int report_command(const report_options& o);

// Shared by the commands.
// What `run` and `suite` do before kestrix starts: the kestrix binary checked, the file root
// and the record's folder ready, the machine described and its conditions checked and warned
// about; start_utc set. Throws input_error.
struct prepared_run {
    std::string kestrix;
    std::filesystem::path root; // every system file is read below it
    system_block system;
    run_conditions conditions;
};
prepared_run prepare_run(const std::string& kestrix_option, const std::string& out_dir,
                         bool no_host);
// kestrix with `args`, the machine's sensors sampled every `sample_interval_s` meanwhile (none
// at 0).
struct sampled_child {
    child_result child;
    std::optional<sensor_status> sensors; // null: not sampled
    std::vector<timed_reading> samples;
};
sampled_child run_sampled(const prepared_run& p, const std::vector<std::string>& args,
                          double sample_interval_s);
// ... and its output read into a record of `label`, with each sub-run's score over time and
// sensors. Throws input_error when kestrix wrote no kestrix output.
struct recorded_child {
    child_result child;
    record rec;
};
recorded_child run_and_record(const prepared_run& p, const std::vector<std::string>& args,
                              const std::string& label, double score_interval_s,
                              double sample_interval_s);
// --sample-interval on `c`, into `seconds`.
void add_sample_interval_option(CLI::App& c, double& seconds);
void say(const std::string& line); // "kestrix-results: line" on standard error
int exit_for(const record& r);
std::vector<record_view> load_views(const std::vector<std::string>& files,
                                    std::vector<record>* keep);

} // namespace kestrix::results
