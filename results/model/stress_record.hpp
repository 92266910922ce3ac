#pragma once
// A kestrix-stress run as a record (mode "stress"): what it tested, what each core did and
// every error it found, named by the system's processor numbers. kestrix-stress writes it while
// it runs (state "running") and at its end; kestrix-results reads, shows and draws it.
#include "model/record.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

struct stress_run_settings {
    std::string mode; // "all" or "cycle"
    std::vector<std::uint32_t> cpus;
    bool smt = false;
    std::vector<std::string> variants;
    std::string workload;
    std::uint64_t size = 0;
    double slice_s = 0.0;
    double duration_s = 0.0; // 0: until interrupted
    bool keep_going = false;
    std::uint64_t check_every = 0;
};

struct stress_error {
    double time_s = 0.0; // since the run started
    std::string kind;    // "hash mismatch", "disagreement", "node check", "energy ratio", ...
    std::vector<std::uint32_t> cpus;
    std::string variant;
    std::uint64_t step = 0;
    std::string message;
};

struct stress_core {
    std::uint32_t cpu = 0;
    std::vector<std::uint32_t> processors;
    std::vector<std::string> variants;
    double time_under_test_s = 0.0;
    std::uint64_t checkpoints = 0;
    std::uint64_t errors = 0;
    std::optional<stress_error> first_error;
    bool left_out = false;
};

struct stress_machine_checks {
    std::optional<std::uint64_t> edac_corrected; // during the run; null: not available
    std::optional<std::uint64_t> machine_check_exceptions;
};

struct stress_record {
    std::string version; // of kestrix-stress
    std::string started_utc;
    std::optional<std::string> ended_utc;
    std::string updated_utc;
    std::optional<std::string> host;
    std::string state; // "running", "finished", "finished with errors", "stopped at error", ...
    stress_run_settings settings;
    std::vector<stress_core> cores;
    std::vector<stress_error> errors;
    std::uint64_t checkpoints = 0;
    stress_machine_checks machine_checks;
    std::optional<int> exit_code;
};

void to_json(nlohmann::json& j, const stress_run_settings& v);
void from_json(const nlohmann::json& j, stress_run_settings& v);
void to_json(nlohmann::json& j, const stress_error& v);
void from_json(const nlohmann::json& j, stress_error& v);
void to_json(nlohmann::json& j, const stress_core& v);
void from_json(const nlohmann::json& j, stress_core& v);
void to_json(nlohmann::json& j, const stress_machine_checks& v);
void from_json(const nlohmann::json& j, stress_machine_checks& v);
void to_json(nlohmann::json& j, const stress_record& v);
void from_json(const nlohmann::json& j, stress_record& v);

// JSON whose "mode" is "stress".
bool is_stress_json(const nlohmann::json& j);

// Throws input_error with one line naming the wrong field.
stress_record stress_record_from_json(const nlohmann::json& j);

std::string stress_record_text(const stress_record& r); // the file's content

// Written to a temporary name and renamed over `path`; throws input_error.
void write_stress_record(const std::string& path, const stress_record& r);

// A record file of either kind.
struct any_record {
    std::optional<record> run;
    std::optional<stress_record> stress;
};
any_record any_record_from_json(const nlohmann::json& j); // throws input_error
any_record load_any_record(const std::string& path);      // messages start with the path

} // namespace kestrix::results
