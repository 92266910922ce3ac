#pragma once
// The run's JSON record (schema version 2, mode "stress"), written to a temporary name and
// renamed, so that a machine that resets mid-run still leaves the last complete one.
#include "stress/engine.hpp"

#include "model/stress_record.hpp"

#include <string>
#include <vector>

namespace kestrix::stress {

// The record's types live in kestrix-results' record model, which reads them back.
using record_settings = results::stress_run_settings;
using record_error = results::stress_error;
using record_core = results::stress_core;
using record_machine_checks = results::stress_machine_checks;
using stress_record = results::stress_record;

record_error to_record(const error_event& e);
std::vector<record_core> to_record(const std::vector<core_report>& cores);

// Empty on success, else why not.
std::string write_record(const std::string& path, const stress_record& r);

std::string utc_now(); // 2026-12-10T04:40:00Z

} // namespace kestrix::stress
