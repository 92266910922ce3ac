#pragma once
// Per-point statistics of records and the show/compare tables (Markdown, CSV, JSON).
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

// A point whose sub-runs vary more than this (coefficient of variation, percent) is marked.
inline constexpr double noisy_cv_percent = 3.5;

struct point_stats {
    std::string point;
    std::vector<std::optional<double>> scores; // one per sub-run, empty = no score
    int n = 0;                                 // sub-runs with a score
    std::optional<double> median, mean, sd, cv_percent, min, max;
    bool noisy = false;
};

struct record_view {
    std::string name;     // the label, or the file name without folder and extension
    std::string variable; // the swept variable ("none" for none)
    std::string title;    // processor and settings
    std::vector<point_stats> points;
};

point_stats stats_of(std::string point, std::vector<std::optional<double>> scores);
record_view view_of(const nlohmann::json& record, const std::string& file_name);

struct compare_row {
    std::string point;
    std::size_t record = 0; // index into the group's records
    const point_stats* stats = nullptr;
    std::optional<double> ratio; // mean / mean of the first record at this point
    std::optional<bool> exceeds; // |difference| > sd(first) + sd(this); unknown below 2 sub-runs
};

struct compare_group {
    std::string variable;
    std::vector<const record_view*> records;
    std::vector<compare_row> rows;
};

// Records grouped by their swept variable, in first-seen order; the first record of each group
// is the reference.
std::vector<compare_group> compare_groups(const std::vector<record_view>& views);

enum class table_format { md, csv, json };

std::string format_show(const std::vector<record_view>& views, table_format f);
std::string format_compare(const std::vector<record_view>& views, table_format f);

std::string fixed(double v, int decimals);

} // namespace kestrix::results
