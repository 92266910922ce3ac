#pragma once
// The conditions of a run, checked before kestrix starts: other load in the second before the
// start, the clock policy, turbo, SMT, a hypervisor, the power source, the huge-page policy.
// The readers take the system's root (fs_root.hpp), so recorded trees replay anywhere; the
// system-specific halves are conditions_linux.cpp and conditions_win32.cpp.
#include "cpu_identity.hpp"
#include "model/conditions.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix::results {

// Above this share of one processor, other load spoils a score.
inline constexpr double other_load_limit_percent = 10.0;

// What Linux's sysfs says below `root`: frequency driver, governor, energy-performance
// preference, turbo or boost, SMT, power source, transparent huge pages. Compiled everywhere.
run_conditions read_sysfs_conditions(const std::filesystem::path& root);

// The "cpu" line of /proc/stat in clock ticks: busy (user, nice, system, irq, softirq, steal;
// guest time is already within user and nice) and steal alone.
struct cpu_times {
    std::uint64_t busy = 0, steal = 0;
};
std::optional<cpu_times> parse_proc_stat(std::string_view text);

// One look at the machine's processor time.
struct load_sample {
    std::optional<cpu_times> system; // none: `why`
    std::string why;
    double own_cpu_s = 0; // this program's processor time so far
    double at_s = 0;      // a monotonic clock
};

// The processor time of everything but this program between two samples.
condition<load_figures> load_between(const load_sample& first, const load_sample& second,
                                     double ticks_per_s);

condition<bool> hypervisor_condition(const cpu_identity& cpu);

// The warnings of the conditions that can spoil a score.
void add_warnings(run_conditions& c);

// System-specific.
load_sample take_load_sample(const std::filesystem::path& root);
double clock_ticks_per_second();
run_conditions read_system_conditions(const std::filesystem::path& root);

// Started first in `run`, finished just before kestrix starts: the load is measured over the
// time between, at least a second.
class conditions_check {
public:
    explicit conditions_check(std::filesystem::path root);
    run_conditions finish() const;

private:
    std::filesystem::path root_;
    load_sample start_;
};

} // namespace kestrix::results
