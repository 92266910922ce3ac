#pragma once
// The record: one kestrix invocation as JSON (docs/record.schema.json).
#include "log_parser.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <vector>

namespace kestrix::results {

inline constexpr int schema_version = 1;

// A failure the user must hear about in one line (exit code 2).
struct input_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct record_context {
    std::string source;                              // "run" or "import"
    std::string label;                               // --label, may be empty
    std::vector<std::string> given_args;             // the kestrix options as given (run only)
    bool args_known = false;                         // false for import: the log does not show them
    nlohmann::json system;                           // the system block
    nlohmann::json extra = nlohmann::json::object(); // merged at top level (kestrix path, exit)
};

// The options as given, with kestrix's defaults for the rest; then what the log shows wins.
nlohmann::json resolve_options(const std::vector<std::string>& args, bool args_known,
                               const nlohmann::json& log_data);

nlohmann::json make_record(const parsed_log& log, const record_context& ctx);

// "20261209T170800Z_host_standing_wave_sse2_s64_d1_n1_none.json" (characters kept to
// [A-Za-z0-9._-]).
std::string record_file_name(const nlohmann::json& record);

// Writes to a temporary name in the same folder and renames it over `path`.
void write_file_atomic(const std::string& path, const std::string& text);

// Reads and checks a record; throws input_error with a one-line message.
nlohmann::json load_record(const std::string& path);

// The first problem with the record's shape, or an empty text.
std::string check_record(const nlohmann::json& record);

std::string read_whole_file(const std::string& path); // throws input_error

} // namespace kestrix::results
