#pragma once
// The outputs of show, compare and report: one exporter per format.
#include "analysis/views.hpp"
#include "model/record.hpp"
#include "output/stress.hpp"

#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

std::string markdown_show(const std::vector<record_view>& views);
std::string markdown_compare(const std::vector<record_view>& views);
std::string csv_show(const std::vector<record_view>& views);
std::string csv_compare(const std::vector<record_view>& views);
std::string json_show(const std::vector<record_view>& views);
std::string json_compare(const std::vector<record_view>& views);

// One self-contained HTML page: system blocks side by side, the compare tables, inline SVG
// charts, then each kestrix-stress record. It names no external file, font or script.
std::string html_report(const std::vector<record>& records, const std::vector<record_view>& views,
                        const std::string& generated_utc,
                        const std::vector<named_stress>& stress = {});

// Shared by the exporters.
std::string fixed(double v, int decimals);
std::string cell(const std::optional<double>& v, int decimals = 2); // "---" when unknown
std::string percent(const std::optional<double>& v);                // "1.23 %"
std::string scores_text(const point_stats& p, const char* sep);
std::string yes_no(const std::optional<bool>& b); // "---" when unknown
std::string csv_field(const std::string& s);      // quoted where it holds , " or a line break
// Texts from records in a Markdown table cell: '|' escaped, line breaks and other control
// characters as blanks, so that a cell stays one cell.
std::string md_cell(const std::string& s);
// A round step for about five axis ticks up to `top` (1 for a top that is not a positive number).
double tick_step(double top);

} // namespace kestrix::results
