#pragma once
// Many machines' records side by side: hosts grouped by processor, topology, kestrix build and
// settings, each compared with its group's median; the slow and the failed named.
#include "model/record.hpp"

#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

// Which of the standard run's four numbers is compared (plain runs have one score).
enum class fleet_metric { all, single, all_baseline, single_baseline };
std::optional<fleet_metric> parse_fleet_metric(const std::string& s);
const char* fleet_metric_name(fleet_metric m); // the standard run's part name
const char* fleet_metric_title(fleet_metric m);

// One file: its record, or why it could not be read.
struct fleet_input {
    std::string file;
    std::optional<record> rec;
    std::string problem;
    std::string other_kind; // a readable record of another kind (kestrix-stress): never compared
};

struct fleet_limits {
    double z = -3.5;            // slow below this robust z-score
    double below_percent = 5.0; // slow this far below the group's median
};

struct fleet_host {
    std::string host;
    std::string file;
    std::string when; // the record's end (or start) time
    std::optional<double> score;
    std::optional<double> z;             // 0.6745 (x - median) / MAD; none where MAD is 0
    std::optional<double> below_percent; // (median - x) / median in %
    bool slow = false;
    std::string reason; // why failed, superseded or not comparable
};

struct fleet_group {
    std::string processor, topology, build, settings;
    std::vector<fleet_host> hosts; // by score, lowest first
    std::optional<double> median, mad;
};

struct fleet_report {
    fleet_metric metric = fleet_metric::all;
    fleet_limits limits;
    std::vector<fleet_group> groups;
    std::vector<fleet_host> failed;
    std::vector<fleet_host> not_comparable;
    std::vector<fleet_host> superseded;
    int hosts = 0; // hosts whose latest record counts, failed ones included
    int slow = 0;
};

// `expected` names hosts that must have written a record; those without one are failed.
fleet_report fleet_of(const std::vector<fleet_input>& inputs, fleet_metric metric,
                      const fleet_limits& limits, const std::vector<std::string>& expected);

std::string fleet_markdown(const fleet_report& r);
std::string fleet_csv(const fleet_report& r);
std::string fleet_json(const fleet_report& r);

} // namespace kestrix::results
