#pragma once
// Reads kestrix's console output (standard output and standard error as one stream, in the
// order a console shows them) into a typed run log. Every line kestrix writes is known by one
// of its fixed texts (console/log_text.hpp) at a fixed place, plus where the reader is: the
// brand and feature lines by their place after a sub-run marker. A line it does not know,
// inside a sub-run, is one of that sub-run's messages (the standard-error lines that explain a
// missing score). Lines are read with prefix and suffix tests and plain scans: the work and
// the stack do not grow with a line's length beyond one pass over it.
#include "capture/console_events.hpp"
#include "model/record.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::results {

struct run_log {
    bool recognized = false; // the text is kestrix output
    bool complete = false;   // it ends where kestrix's output ends (not truncated)
    std::string problem;     // why not, in one line
    run_mode mode = run_mode::benchmark;
    std::optional<std::string> kestrix_version;
    std::optional<harness_info> harness;
    std::vector<sub_run> sub_runs;
    std::vector<std::string> messages; // outside any sub-run
    diagnostics diag;
    bool press_enter_seen = false;
};

run_log read_log(const std::vector<std::string>& lines);
run_log read_log(const std::vector<console_event>& events);
run_log read_log(std::string_view text); // a saved log

// One line read alone: a progress line, or the "run k/n" marker that opens sub-run k.
std::optional<progress_line> progress_of(std::string_view line);
std::optional<std::uint64_t> sub_run_marker_of(std::string_view line);

} // namespace kestrix::results
