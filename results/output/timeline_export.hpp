#pragma once
// The score over time in show, compare and report: a line per sub-run, the series as CSV or
// JSON, a drift column, and the chart.
#include "analysis/views.hpp"
#include "model/record.hpp"
#include "output/markup.hpp"

#include <string>
#include <vector>

namespace kestrix::results {

// Why a sub-run has no timeline.
std::string no_timeline_reason(const record& r);

// Shared by the charts over time: each sub-run's colour, and its legend entry (a fall marked).
std::string run_colour(std::size_t i);
void run_legend_entry(markup& m, double x, double y, std::size_t i, bool fell,
                      const std::string& text);
// Why a record has no series of a kind: `import_lacks` for imports, `otherwise` for runs.
std::string series_missing_reason(const record& r, const char* import_lacks, const char* otherwise);

// "- name run k (point): ... drift 0.998 (±1.2 %)", one line per sub-run; empty without any.
std::string timeline_summary_lines(const std::vector<record>& records,
                                   const std::vector<record_view>& views);

// Every point of every sub-run's timeline.
std::string series_csv(const std::vector<record>& records, const std::vector<record_view>& views);
std::string series_json(const std::vector<record>& records, const std::vector<record_view>& views);

// compare's drift column: shown where some record of the group knows a drift.
bool group_has_drift(const compare_group& g);
std::string drifts_text(const point_stats& p, const char* sep); // "0.998 ---"
// ... and its MGups per watt column, where some record of the group knows its power.
bool group_has_efficiency(const compare_group& g);
std::string efficiencies_text(const point_stats& p, const char* sep); // "1.52 ---"

// One chart per record with a timeline: the score over time of each sub-run, drift marked.
void timeline_charts(markup& body, const std::vector<record>& records,
                     const std::vector<record_view>& views);

} // namespace kestrix::results
