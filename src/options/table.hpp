#pragma once
// kestrix's sixteen options, bound to the run configuration, and its help output.
#include "cli/parser.hpp"
#include "options/settings.hpp"

#include <string>
#include <vector>

namespace kestrix {

// The targets must already hold their defaults: they become the "[default: ...]" texts.
option_table build_option_table(bench_config& config, harness_settings& harness, mode_flags& modes);

// The field-size table and the closing notice, one text per line.
std::vector<std::string> field_size_lines();

// Writes the whole help output to standard output.
void print_help(const option_table& table);

} // namespace kestrix
