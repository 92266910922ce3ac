#pragma once
// A run log and what surrounds it (the command line, the machine) as a record.
#include "capture/log_reader.hpp"
#include "model/record.hpp"

#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

struct record_context {
    std::string source; // "run" or "import"
    std::string label;
    std::optional<std::vector<std::string>> given; // the kestrix options (run only)
    system_block system;
};

// kestrix's settings for a command line: its defaults, then the options given.
settings decided_settings(const std::vector<std::string>& args);

// What the output showed of the settings (the swept one left out: its values are the points).
settings shown_settings(const run_log& log);

// Shown where shown, else decided.
settings resolved_settings(const std::optional<settings>& decided, const settings& shown);

// What a saved log shows of the machine that wrote it.
system_block system_from_log(const run_log& log);

record make_record(const run_log& log, const record_context& ctx);

} // namespace kestrix::results
