#pragma once
// The machine's sensors while kestrix runs: the clock of every logical processor, the package
// temperature, the package energy (or power) and the throttle counters. The sources are found
// once when a reader is opened; then every read() takes one look at all of them. Each source
// says where it reads, or why there is none, so that a record never leaves a series out
// silently. One reader per system: sysfs below a root on Linux (compiled everywhere, so that
// recorded trees replay in tests), the PDH counters on Windows.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::results {

// Where a series comes from, or why there is none.
struct sensor_source {
    std::optional<std::string> source;      // "/dev/cpu/*/msr (APERF/MPERF)", "hwmon k10temp Tctl"
    std::optional<std::string> unavailable; // "/dev/cpu/0/msr: Permission denied (root only)"
    std::optional<std::string> note;        // e.g. "under a hypervisor this is the nominal clock"
    bool found() const { return source.has_value(); }
};

// What a reader found. `clock_label` is "effective" (the clock really reached, from hardware
// counters), "requested" (what the frequency driver asked for) or "reported" (what the system
// says, nominal under a hypervisor); empty without a clock source.
struct sensor_status {
    std::string clock_label;
    sensor_source clock, temperature, power, throttle;
    std::uint64_t logical_processors = 0; // the size of every reading's clock_mhz
};

// One look at every source. A value is null where its source has none this time (no source, a
// file that vanished or did not parse). Cumulative values count from the reader's first read().
struct sensor_reading {
    // MHz per logical processor, in the system's processor order. An "effective" clock is the
    // mean over the time since the previous read(), so the first read() has none.
    std::vector<std::optional<double>> clock_mhz;
    std::optional<double> temperature_c; // the package maximum (the hottest sensor of any package)
    std::optional<double> energy_j;      // package energy, summed over packages, wraps unwound
    std::optional<double> power_w;       // only where the system gives power but no energy
    std::optional<std::uint64_t> throttle_events; // core and package throttle counts, summed
};

class sensor_reader {
public:
    virtual ~sensor_reader() = default;
    virtual const sensor_status& status() const = 0;
    // Never throws; cheap enough for ten reads a second on hundreds of processors.
    virtual sensor_reading read() = 0;
};

struct sysfs_sensor_options {
    bool hypervisor = false; // adds the note that "cpu MHz" is the nominal clock
    // The time-stamp counter's rate, for the effective clock (APERF/MPERF x TSC rate). Unset: the
    // reader measures it itself against the steady clock between its reads.
    std::function<std::optional<double>()> tsc_hz;
};

// Linux, below `root`:
//  - clock: /dev/cpu/N/msr (APERF 0xE8, MPERF 0xE7) "effective"; else cpufreq's
//    scaling_cur_freq "requested"; else /proc/cpuinfo's "cpu MHz" "reported";
//  - temperature: hwmon k10temp, coretemp, zenpower; else thermal zones x86_pkg_temp, acpitz;
//  - power: powercap intel-rapl package domains (energy_uj, wrapping at max_energy_range_uj);
//    else hwmon energy or power inputs;
//  - throttle: cpuN/thermal_throttle/{core,package}_throttle_count.
std::unique_ptr<sensor_reader> open_sysfs_sensors(const std::filesystem::path& root,
                                                  sysfs_sensor_options options);

// This system's reader: the sysfs one on Linux, the PDH counters on Windows.
std::unique_ptr<sensor_reader> open_system_sensors(const std::filesystem::path& root,
                                                   bool hypervisor);

} // namespace kestrix::results
