#pragma once
// The conditions a run started under (other load, clock policy, turbo, SMT, hypervisor, power
// source, huge-page policy), and where the system facts of a record were read. Each condition
// holds its value and where it came from, or why it could not be known, and what it may do to
// the score when it can spoil one.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

template <class T> struct condition {
    std::optional<T> value;
    std::optional<std::string> source;      // where the value was read
    std::optional<std::string> unavailable; // why there is no value
    std::optional<std::string> warning;     // what it may do to the score
};

// Processor time used by everything but this program, in percent of one processor.
struct load_figures {
    double other_busy_percent = 0; // steal time included
    double steal_percent = 0;
    double window_s = 0; // the time measured over
};

// A setting that can differ per processor: each value and how many processors have it.
using per_processor = std::map<std::string, std::uint64_t>;

struct run_conditions {
    condition<load_figures> other_load;
    condition<std::string> frequency_driver; // "intel_pstate", "amd-pstate-epp", "acpi-cpufreq"
    condition<per_processor> governor;
    condition<per_processor> energy_performance_preference;
    condition<bool> turbo;      // true: turbo or boost may be used
    condition<std::string> smt; // "on", "off", "forceoff", "notsupported", "notimplemented"
    condition<bool> hypervisor;
    condition<bool> on_battery;
    condition<std::string> transparent_huge_pages; // "always", "madvise", "never"

    // Every condition's warning, in the order above.
    std::vector<std::string> warnings() const;
};

// Where a record's system facts were read: the folder taken as the system's root ("/" on a real
// machine, a recorded tree when replayed) and the record fields read below it; the fields asked
// of the processor itself (CPUID) are never replayed.
struct root_info {
    std::string path;
    std::vector<std::string> read_below_root;
    std::vector<std::string> asked_of_processor;
};

void to_json(nlohmann::json& j, const load_figures& v);
void from_json(const nlohmann::json& j, load_figures& v);
void to_json(nlohmann::json& j, const run_conditions& v);
void from_json(const nlohmann::json& j, run_conditions& v); // throws nlohmann::json::exception
void to_json(nlohmann::json& j, const root_info& v);
void from_json(const nlohmann::json& j, root_info& v);

} // namespace kestrix::results
