#pragma once
// Recorded /proc and /sys trees of machines, written as the kernel documents its files (cpufreq,
// intel_pstate, amd-pstate, the SMT switch, power_supply, transparent huge pages, /proc/stat),
// for replay through KESTRIX_FSROOT.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

namespace kestrix::results::test {

namespace fs = std::filesystem;

// A tree in a fresh temporary folder, removed afterwards.
class sysfs_tree {
public:
    sysfs_tree() {
        root_ = fs::temp_directory_path() /
                fmt::format("kx-tree-{}-{}", std::random_device{}(), ++count());
        fs::create_directories(root_);
    }
    ~sysfs_tree() {
        std::error_code ec;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root_, ec);
    }
    sysfs_tree(const sysfs_tree&) = delete;
    sysfs_tree& operator=(const sysfs_tree&) = delete;

    sysfs_tree& file(const std::string& path, const std::string& text) {
        const fs::path p = root_ / path;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        return *this;
    }
    sysfs_tree& folder(const std::string& path) {
        fs::create_directories(root_ / path);
        return *this;
    }
    // As a root-only attribute looks to everyone else.
    sysfs_tree& unreadable(const std::string& path) {
        fs::permissions(root_ / path, fs::perms::none);
        return *this;
    }
    // n processors, two per core, one package, readable by hwloc.
    sysfs_tree& processors(int n) {
        const std::string all = fmt::format("0-{}", n - 1);
        const std::string cpu = "sys/devices/system/cpu/";
        file(cpu + "online", all + "\n").file(cpu + "possible", all + "\n");
        file(cpu + "present", all + "\n");
        for (int i = 0; i < n; ++i) {
            const std::string t = fmt::format("{}cpu{}/topology/", cpu, i);
            const int first = i / 2 * 2;
            const std::string pair = fmt::format("{:x}\n", 3u << first);
            const std::string pair_list = fmt::format("{}-{}\n", first, first + 1);
            const std::string every = fmt::format("{:x}\n", (1u << n) - 1);
            file(t + "physical_package_id", "0\n").file(t + "core_id", fmt::format("{}\n", i / 2));
            file(t + "die_id", "0\n").file(t + "core_cpus", pair).file(t + "thread_siblings", pair);
            file(t + "core_cpus_list", pair_list).file(t + "thread_siblings_list", pair_list);
            file(t + "package_cpus", every).file(t + "core_siblings", every);
            file(t + "package_cpus_list", all + "\n").file(t + "core_siblings_list", all + "\n");
        }
        return *this;
    }
    // The same cpufreq attribute on every processor.
    sysfs_tree& cpufreq(int n, const std::string& name, const std::string& value) {
        for (int i = 0; i < n; ++i) {
            file(fmt::format("sys/devices/system/cpu/cpu{}/cpufreq/{}", i, name), value + "\n");
        }
        return *this;
    }
    const fs::path& root() const { return root_; }

private:
    static int& count() {
        static int n = 0;
        return n;
    }
    fs::path root_;
};

// An idle machine's processor times: user nice system idle iowait irq softirq steal guest
// guest_nice, then one line per processor.
inline std::string proc_stat(int processors) {
    std::string s = "cpu  84512 1204 30215 9120455 5012 0 1830 0 0 0\n";
    for (int i = 0; i < processors; ++i) {
        s += fmt::format("cpu{} 21128 301 7553 2280113 1253 0 457 0 0 0\n", i);
    }
    return s + "intr 1234567 0 9 0\nctxt 7654321\nbtime 1765350000\nprocesses 41234\n"
               "procs_running 1\nprocs_blocked 0\nsoftirq 765432 0 1 2 3 4 5 6 7 8 9\n";
}

// A hybrid Intel laptop on battery: intel_pstate active, powersave with the balance_power
// preference, turbo available, SMT on, transparent huge pages for madvise only.
inline void intel_laptop(sysfs_tree& t) {
    const int n = 4;
    t.processors(n).file("proc/stat", proc_stat(n));
    t.file("proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\nmicrocode\t: 0x430\n");
    t.file("proc/meminfo", "MemTotal:       32562100 kB\nMemFree:         2011224 kB\n"
                           "MemAvailable:   21450312 kB\n");
    t.file("proc/sys/kernel/ostype", "Linux\n").file("proc/sys/kernel/osrelease", "6.8.0-45\n");
    t.file("proc/sys/kernel/version", "#45-Ubuntu SMP PREEMPT_DYNAMIC\n");
    t.file("proc/sys/kernel/hostname", "thinkpad\n");
    t.file("etc/os-release", "PRETTY_NAME=\"Ubuntu 24.04.1 LTS\"\nVERSION_ID=\"24.04\"\n");
    t.cpufreq(n, "scaling_driver", "intel_pstate").cpufreq(n, "scaling_governor", "powersave");
    t.cpufreq(n, "energy_performance_preference", "balance_power");
    t.cpufreq(n, "energy_performance_available_preferences",
              "default performance balance_performance balance_power power");
    t.cpufreq(n, "cpuinfo_max_freq", "4700000").cpufreq(n, "base_frequency", "2100000");
    const std::string cpu = "sys/devices/system/cpu/";
    t.file(cpu + "intel_pstate/status", "active\n").file(cpu + "intel_pstate/no_turbo", "0\n");
    t.file(cpu + "smt/control", "on\n").file(cpu + "smt/active", "1\n");
    const std::string ps = "sys/class/power_supply/";
    t.file(ps + "AC/type", "Mains\n").file(ps + "AC/online", "0\n");
    t.file(ps + "BAT0/type", "Battery\n").file(ps + "BAT0/status", "Discharging\n");
    t.file(ps + "BAT0/capacity", "64\n");
    // A wireless mouse's battery, which says nothing about the machine's power.
    t.file(ps + "hidpp_battery_0/type", "Battery\n").file(ps + "hidpp_battery_0/scope", "Device\n");
    t.file(ps + "hidpp_battery_0/status", "Discharging\n");
    t.file("sys/kernel/mm/transparent_hugepage/enabled", "always [madvise] never\n");
}

// An AMD desktop: acpi-cpufreq with two processors left at powersave, boost switched off, SMT
// forced off, no battery.
inline void amd_desktop(sysfs_tree& t) {
    const int n = 4;
    t.processors(n).file("proc/stat", proc_stat(n));
    t.cpufreq(n, "scaling_driver", "acpi-cpufreq").cpufreq(n, "scaling_governor", "performance");
    t.file("sys/devices/system/cpu/cpu2/cpufreq/scaling_governor", "powersave\n");
    t.file("sys/devices/system/cpu/cpu3/cpufreq/scaling_governor", "powersave\n");
    t.cpufreq(n, "cpuinfo_max_freq", "5759000");
    t.file("sys/devices/system/cpu/cpufreq/boost", "0\n");
    t.file("sys/devices/system/cpu/smt/control", "forceoff\n");
    t.file("sys/devices/system/cpu/smt/active", "0\n");
    t.folder("sys/class/power_supply");
    t.file("sys/kernel/mm/transparent_hugepage/enabled", "[always] madvise never\n");
}

// Sensors, as the kernel's hwmon, thermal, powercap, cpufreq and thermal_throttle files show
// them. Each machine also has the sensors of things that are not its processor.

// "processor" and "cpu MHz" lines of /proc/cpuinfo.
inline std::string cpuinfo_with_mhz(const std::string& vendor, const std::vector<double>& mhz) {
    std::string s;
    for (std::size_t i = 0; i < mhz.size(); ++i) {
        s += fmt::format("processor\t: {}\nvendor_id\t: {}\ncpu MHz\t\t: {:.3f}\n\n", i, vendor,
                         mhz[i]);
    }
    return s;
}

inline void hwmon_temperature(sysfs_tree& t, const std::string& chip, int n, const char* label,
                              int millidegrees) {
    const std::string temp = fmt::format("sys/class/hwmon/{}/temp{}_", chip, n);
    if (label != nullptr) {
        t.file(temp + "label", std::string(label) + "\n");
    }
    t.file(temp + "input", fmt::format("{}\n", millidegrees));
}

inline void rapl_domain(sysfs_tree& t, const std::string& domain, const std::string& name,
                        std::uint64_t energy_uj, std::uint64_t range_uj) {
    const std::string d = "sys/class/powercap/" + domain + "/";
    t.file(d + "name", name + "\n").file(d + "energy_uj", fmt::format("{}\n", energy_uj));
    t.file(d + "max_energy_range_uj", fmt::format("{}\n", range_uj)).file(d + "enabled", "1\n");
}

// A hybrid Intel laptop: two performance cores with two threads each (processors 0-3) and four
// efficient cores (4-7); coretemp's package and cores beside the ACPI, NVMe and Wi-Fi chips;
// intel-rapl package-0 with its core and uncore parts, the platform's psys domain and the MMIO
// copy of the package; intel_pstate; the throttle counters, 2 J before the energy counter wraps.
inline void intel_hybrid_laptop_sensors(sysfs_tree& t) {
    const int n = 8;
    const std::string cpu = "sys/devices/system/cpu/";
    t.processors(n);
    for (int i = 4; i < n; ++i) {
        const std::string topology = fmt::format("{}cpu{}/topology/", cpu, i);
        t.file(topology + "core_id", fmt::format("{}\n", i + 4));
        t.file(topology + "thread_siblings_list", fmt::format("{}\n", i));
        t.file(topology + "core_cpus_list", fmt::format("{}\n", i));
    }
    t.file("proc/cpuinfo",
           cpuinfo_with_mhz("GenuineIntel", {4200, 4200, 4100, 4100, 3300, 3300, 3200, 3200}));
    t.cpufreq(n, "scaling_driver", "intel_pstate").cpufreq(n, "scaling_governor", "powersave");
    const int khz[n] = {4200000, 4200000, 4100000, 4100000, 3300000, 3300000, 3200000, 3200000};
    for (int i = 0; i < n; ++i) {
        t.file(fmt::format("{}cpu{}/cpufreq/scaling_cur_freq", cpu, i),
               fmt::format("{}\n", khz[i]));
        const std::string throttle = fmt::format("{}cpu{}/thermal_throttle/", cpu, i);
        t.file(throttle + "core_throttle_count", i < 2 ? "12\n" : i < 4 ? "3\n" : "0\n");
        t.file(throttle + "package_throttle_count", "40\n");
        t.file(throttle + "core_throttle_max_time_ms", "150\n");
    }
    t.file("sys/class/hwmon/hwmon0/name", "acpitz\n");
    hwmon_temperature(t, "hwmon0", 1, nullptr, 27800);
    t.file("sys/class/hwmon/hwmon1/name", "nvme\n");
    hwmon_temperature(t, "hwmon1", 1, "Composite", 72850);
    t.file("sys/class/hwmon/hwmon3/name", "iwlwifi_1\n");
    hwmon_temperature(t, "hwmon3", 1, nullptr, 45000);
    const std::string coretemp = "sys/class/hwmon/hwmon5/";
    t.file(coretemp + "name", "coretemp\n");
    hwmon_temperature(t, "hwmon5", 1, "Package id 0", 61000);
    t.file(coretemp + "temp1_max", "100000\n").file(coretemp + "temp1_crit", "100000\n");
    t.file(coretemp + "temp1_crit_alarm", "0\n");
    hwmon_temperature(t, "hwmon5", 2, "Core 0", 57000);
    hwmon_temperature(t, "hwmon5", 3, "Core 1", 55000);
    for (int core = 8; core < 12; ++core) {
        hwmon_temperature(t, "hwmon5", core + 2, fmt::format("Core {}", core).c_str(),
                          48000 + core * 100);
    }
    t.file("sys/class/thermal/thermal_zone0/type", "acpitz\n");
    t.file("sys/class/thermal/thermal_zone0/temp", "27800\n");
    t.file("sys/class/thermal/thermal_zone5/type", "x86_pkg_temp\n");
    t.file("sys/class/thermal/thermal_zone5/temp", "61000\n");
    rapl_domain(t, "intel-rapl:0", "package-0", 262141328850, 262143328850);
    rapl_domain(t, "intel-rapl:0:0", "core", 90120000000, 262143328850);
    rapl_domain(t, "intel-rapl:0:1", "uncore", 5120000000, 262143328850);
    rapl_domain(t, "intel-rapl:1", "psys", 150000000000, 262143328850);
    rapl_domain(t, "intel-rapl-mmio:0", "package-0", 100000000000, 262143328850);
}

// An AMD Zen 4 desktop: k10temp's Tctl and two CCDs beside the board's Super I/O chip and the
// graphics card (with its own power), RAPL package and core domains, amd-pstate, no throttle
// counters.
inline void amd_zen_desktop_sensors(sysfs_tree& t) {
    const int n = 4;
    t.processors(n);
    t.file("proc/cpuinfo", cpuinfo_with_mhz("AuthenticAMD", {5081, 4950, 3000, 545}));
    t.cpufreq(n, "scaling_driver", "amd-pstate-epp");
    const int khz[n] = {5081000, 4950000, 3000000, 545000};
    for (int i = 0; i < n; ++i) {
        t.file(fmt::format("sys/devices/system/cpu/cpu{}/cpufreq/scaling_cur_freq", i),
               fmt::format("{}\n", khz[i]));
    }
    t.file("sys/class/hwmon/hwmon0/name", "nct6799\n");
    hwmon_temperature(t, "hwmon0", 1, "SYSTIN", 38000);
    hwmon_temperature(t, "hwmon0", 2, "CPUTIN", 96000); // an unconnected probe
    t.file("sys/class/hwmon/hwmon1/name", "k10temp\n");
    hwmon_temperature(t, "hwmon1", 1, "Tctl", 74250);
    hwmon_temperature(t, "hwmon1", 3, "Tccd1", 71500);
    hwmon_temperature(t, "hwmon1", 4, "Tccd2", 68000);
    t.file("sys/class/hwmon/hwmon2/name", "amdgpu\n");
    hwmon_temperature(t, "hwmon2", 1, "edge", 50000);
    t.file("sys/class/hwmon/hwmon2/power1_average", "35000000\n");
    rapl_domain(t, "intel-rapl:0", "package-0", 123456789, 65532610987);
    rapl_domain(t, "intel-rapl:0:0", "core", 98765432, 65532610987);
}

// A server with two AMD packages, processors 0-3 on the first and 8-11 on the second (4-7
// offline), k10temp for each package, two RAPL packages, acpi-cpufreq.
inline void amd_two_socket_server_sensors(sysfs_tree& t) {
    t.processors(12);
    const std::string cpu = "sys/devices/system/cpu/";
    t.file(cpu + "online", "0-3,8-11\n").file(cpu + "offline", "4-7\n");
    std::vector<double> mhz;
    for (int i = 0; i < 12; ++i) {
        if (i >= 8) {
            t.file(fmt::format("{}cpu{}/topology/physical_package_id", cpu, i), "1\n");
        }
        if (i < 4 || i >= 8) {
            const std::string f = fmt::format("{}cpu{}/cpufreq/", cpu, i);
            t.file(f + "scaling_driver", "acpi-cpufreq\n");
            t.file(f + "scaling_cur_freq", i < 4 ? "2450000\n" : "3100000\n");
            mhz.push_back(i < 4 ? 2450 : 3100);
        }
    }
    t.file("proc/cpuinfo", cpuinfo_with_mhz("AuthenticAMD", mhz));
    t.file("sys/class/hwmon/hwmon0/name", "k10temp\n");
    hwmon_temperature(t, "hwmon0", 1, "Tctl", 55000);
    hwmon_temperature(t, "hwmon0", 3, "Tccd1", 52000);
    t.file("sys/class/hwmon/hwmon1/name", "k10temp\n");
    hwmon_temperature(t, "hwmon1", 1, "Tctl", 63500);
    hwmon_temperature(t, "hwmon1", 3, "Tccd1", 60000);
    rapl_domain(t, "intel-rapl:0", "package-0", 65532000000, 65532610987);
    rapl_domain(t, "intel-rapl:1", "package-1", 1000000, 65532610987);
}

// A first-generation Threadripper on an older kernel: k10temp gives Tdie beside a Tctl that is
// 27 degrees higher; no RAPL yet.
inline void amd_threadripper_sensors(sysfs_tree& t) {
    t.processors(4);
    t.file("proc/cpuinfo", cpuinfo_with_mhz("AuthenticAMD", {3400, 3400, 3400, 3400}));
    t.cpufreq(4, "scaling_cur_freq", "3400000");
    t.file("sys/class/hwmon/hwmon0/name", "k10temp\n");
    hwmon_temperature(t, "hwmon0", 1, "Tdie", 50000);
    hwmon_temperature(t, "hwmon0", 2, "Tctl", 77000);
}

// A virtual machine: processors and their nominal clock in /proc/cpuinfo, nothing else.
inline void virtual_machine_sensors(sysfs_tree& t) {
    t.file("proc/cpuinfo",
           cpuinfo_with_mhz("GenuineIntel", {2994.374, 2994.374, 2994.374, 2994.374}));
    t.folder("sys/class/hwmon").folder("sys/class/thermal").folder("sys/devices/system/cpu");
}

} // namespace kestrix::results::test
