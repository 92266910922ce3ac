#pragma once
// One self-contained HTML page: system blocks side by side, the compare tables, inline SVG
// charts. It names no external file, font or script.
#include "tables.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace kestrix::results {

std::string html_report(const std::vector<nlohmann::json>& records,
                        const std::vector<record_view>& views, const std::string& generated_utc);

std::string html_escape(const std::string& s);

} // namespace kestrix::results
