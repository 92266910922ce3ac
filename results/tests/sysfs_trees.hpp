#pragma once
// Recorded /proc and /sys trees of machines, written as the kernel documents its files (cpufreq,
// intel_pstate, amd-pstate, the SMT switch, power_supply, transparent huge pages, /proc/stat),
// for replay through KESTRIX_FSROOT.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

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

} // namespace kestrix::results::test
