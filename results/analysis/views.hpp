#pragma once
// Records as points with statistics, and records side by side: what every output draws.
#include "model/record.hpp"

#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

struct point_stats {
    std::string point;
    std::vector<std::optional<double>> scores; // one per sub-run, empty = no score
    int n = 0;                                 // sub-runs with a score
    std::optional<double> median, mean, sd, cv_percent, min, max;
    bool noisy = false;
    std::vector<std::optional<double>> drifts;      // per sub-run, as scores; empty = not known
    std::vector<std::optional<double>> mgups_per_w; // per sub-run, as drifts
};

struct record_view {
    std::string name;     // the label, or the file name without folder and extension
    std::string variable; // the swept variable ("none" for none)
    std::string title;    // processor and settings
    std::vector<point_stats> points;
    std::optional<std::string> headline; // the standard run's two numbers, shown first
};

// "single thread 312.4 MGups (avx512f), all threads 605.1 MGups (avx512f); sse2 301.0 / 588.2"
std::string suite_headline(const suite_info& s);

point_stats stats_of(std::string point, std::vector<std::optional<double>> scores);
record_view view_of(const record& r, const std::string& file_name);

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

// The mark a noisy point carries, in every output.
std::string noisy_note();

} // namespace kestrix::results
