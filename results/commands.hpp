#pragma once
// The command line of kestrix-results: run, import, show, compare, report.
#include <string>
#include <vector>

namespace kestrix::results {

// Exit codes: 0 every sub-run scored, 1 some sub-run without a score, 2 our own usage error
// or unusable input.
int results_main(const std::vector<std::string>& args);

} // namespace kestrix::results
