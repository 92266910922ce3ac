#pragma once
// The run's JSON record (schema version 2, mode "stress"), written to a temporary name and
// renamed, so that a machine that resets mid-run still leaves the last complete one.
#include "stress/engine.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kestrix::stress {

struct record_settings {
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

struct record_error {
    double time_s = 0.0;
    std::string kind;
    std::vector<std::uint32_t> cpus;
    std::string variant;
    std::uint64_t step = 0;
    std::string message;
};

struct record_core {
    std::uint32_t cpu = 0;
    std::vector<std::uint32_t> processors;
    std::vector<std::string> variants;
    double time_under_test_s = 0.0;
    std::uint64_t checkpoints = 0;
    std::uint64_t errors = 0;
    std::optional<record_error> first_error;
    bool left_out = false;
};

struct record_machine_checks {
    std::optional<std::uint64_t> edac_corrected; // during the run; absent: not available
    std::optional<std::uint64_t> machine_check_exceptions;
};

struct stress_record {
    std::string version;
    std::string started_utc;
    std::optional<std::string> ended_utc;
    std::string updated_utc;
    std::string host;
    std::string state; // "running", "finished", "stopped at error", "interrupted", "failed"
    record_settings settings;
    std::vector<record_core> cores;
    std::vector<record_error> errors;
    record_machine_checks machine_checks;
    std::uint64_t checkpoints = 0;
    std::optional<int> exit_code;
};

void to_json(nlohmann::json& j, const record_settings& s);
void to_json(nlohmann::json& j, const record_error& e);
void to_json(nlohmann::json& j, const record_core& c);
void to_json(nlohmann::json& j, const stress_record& r);

record_error to_record(const error_event& e);
std::vector<record_core> to_record(const std::vector<core_report>& cores);

// Empty on success, else why not.
std::string write_record(const std::string& path, const stress_record& r);

std::string utc_now(); // 2026-12-10T04:40:00Z

} // namespace kestrix::stress
