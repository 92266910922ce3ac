#pragma once
// Records on disk: reading any version this program knows (through its migration), writing
// atomically under a name made of the record's settings, never over another record.
#include "model/record.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrix::results {

// A failure the user must hear about in one line (exit code 2).
struct input_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Copying, comparing and printing a JSON value recurse once per level: deeper input is refused.
inline constexpr int max_json_depth = 64;

// Parses JSON text of at most max_json_depth levels; throws input_error ("not JSON", "nested
// deeper than ...").
nlohmann::json parse_json_text(std::string_view text);

// Any version this program reads, as a record; throws input_error with a one-line message.
record record_from_json(const nlohmann::json& j);

// Reads, migrates and checks a record file; messages start with the path.
record load_record(const std::string& path);

std::string record_text(const record& r); // the file's content

// "20261209T170800Z_host_benchmark_standing_wave_sse2_s64_d1_n1_none.json" (characters kept to
// [A-Za-z0-9.-], "_" between the parts).
std::string record_file_name(const record& r);

// Writes under `dir` (created when missing) as prefix + record_file_name, with "-2", "-3", ...
// when that name is taken; returns the path.
std::string write_record(const std::string& dir, const record& r, const std::string& prefix = "");

// Creates `dir` when missing; throws input_error when it cannot.
void ensure_folder(const std::string& dir);

// Writes to a temporary name in the same folder and renames it over `path`.
void write_file_atomic(const std::string& path, const std::string& text);

std::string read_whole_file(const std::string& path); // throws input_error

} // namespace kestrix::results
