#pragma once
// Reads kestrix's console output (standard output and standard error as one stream, in the
// order a console shows them) into the parts of a record. The grammar is the table of line
// patterns in log_parser.cpp; a line the table does not know, inside a sub-run, is one of that
// sub-run's messages (the standard-error lines that explain a missing score).
#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace kestrix::results {

struct parsed_log {
    bool recognized = false; // the text is kestrix output
    bool complete = false;   // it ends where kestrix's output ends (not truncated)
    std::string problem;     // why not, in one line
    nlohmann::json data;     // mode, harness, sub_runs, diagnostics (see docs/record.schema.json)
};

// Splits console text into lines as a console shows them: "\r\n" and "\n" end a line, and of a
// line rewritten in place with "\r" only the last text remains.
std::vector<std::string> console_lines(std::string_view text);

parsed_log parse_log(std::string_view text);

// The sub-runs of a parsed log with a valid score / without one.
int count_scored(const nlohmann::json& data);
int count_unscored(const nlohmann::json& data);

} // namespace kestrix::results
