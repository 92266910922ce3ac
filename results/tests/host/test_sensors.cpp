// The sysfs sensor reader on recorded trees of real kinds of machines: which source each series
// comes from, and two successive reads with the tree rewritten between them (an energy counter
// that wraps, a sensor that disappears, a clock that falls, a throttle counter that rises).
#include "sensors.hpp"
#include "sysfs_trees.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kestrix::results {
namespace {

using test::sysfs_tree;

struct sensor_look {
    std::vector<std::optional<double>> clock_mhz;
    std::optional<double> temperature_c, energy_j, power_w;
    std::optional<std::uint64_t> throttle_events;
};

void expect_look(const sensor_reading& got, const sensor_look& want, const char* which) {
    SCOPED_TRACE(which);
    ASSERT_EQ(got.clock_mhz.size(), want.clock_mhz.size());
    for (std::size_t i = 0; i < want.clock_mhz.size(); ++i) {
        ASSERT_EQ(got.clock_mhz[i].has_value(), want.clock_mhz[i].has_value()) << "processor " << i;
        if (want.clock_mhz[i]) {
            EXPECT_NEAR(*got.clock_mhz[i], *want.clock_mhz[i], 1e-3) << "processor " << i;
        }
    }
    const auto near = [](const std::optional<double>& g, const std::optional<double>& w,
                         const char* what) {
        ASSERT_EQ(g.has_value(), w.has_value()) << what;
        if (w) {
            EXPECT_NEAR(*g, *w, 1e-6) << what;
        }
    };
    near(got.temperature_c, want.temperature_c, "temperature");
    near(got.energy_j, want.energy_j, "energy");
    near(got.power_w, want.power_w, "power");
    EXPECT_EQ(got.throttle_events, want.throttle_events);
}

// The source, or the reason there is none.
std::string where(const sensor_source& s) {
    return s.source.value_or("none: " + s.unavailable.value_or("(no reason)"));
}

const char* const no_msr = "no /dev/cpu/0/msr: the msr module is not loaded";
const char* const no_temperature =
    "none: no hwmon k10temp, coretemp or zenpower and no thermal zone x86_pkg_temp or acpitz";
const char* const no_power = "none: no powercap intel-rapl package domain and no hwmon energy or "
                             "power input of the processor";
const char* const no_throttle =
    "none: no thermal_throttle counters in /sys/devices/system/cpu/cpu*";
const char* const cpufreq_clock = "/sys/devices/system/cpu/cpu*/cpufreq/scaling_cur_freq";

TEST(SysfsSensors, MachinesReadTwiceWithTheTreeRewrittenBetween) {
    struct row {
        const char* what;
        void (*write)(sysfs_tree&);
        bool hypervisor;
        const char *label, *clock, *clock_note, *temperature, *power, *throttle;
        sensor_look first;
        void (*change)(sysfs_tree&);
        sensor_look second;
    };
    const std::vector<std::optional<double>> laptop_mhz = {4200, 4200, 4100, 4100,
                                                           3300, 3300, 3200, 3200};
    const row rows[] = {
        {"hybrid Intel laptop",
         test::intel_hybrid_laptop_sensors,
         false,
         "requested",
         cpufreq_clock,
         no_msr,
         "the hottest of hwmon coretemp Package id 0, Core 0, Core 1, Core 8, Core 9, Core 10, "
         "Core 11",
         "powercap intel-rapl:0 package-0 energy_uj",
         "/sys/devices/system/cpu/cpu*/thermal_throttle: 6 core and 1 package counters",
         {laptop_mhz, 61.0, 0.0, std::nullopt, 0},
         [](sysfs_tree& t) {
             // 2 J to the wrap, then 1.5 J after it.
             t.file("sys/class/powercap/intel-rapl:0/energy_uj", "1500000\n");
             std::filesystem::remove(t.root() / "sys/class/hwmon/hwmon5/temp1_input");
             t.file("sys/devices/system/cpu/cpu3/cpufreq/scaling_cur_freq", "800000\n");
             for (int i = 0; i < 8; ++i) {
                 t.file(fmt::format("sys/devices/system/cpu/cpu{}/thermal_throttle/"
                                    "package_throttle_count",
                                    i),
                        "43\n");
             }
             for (int i : {0, 1}) { // one core's two threads
                 t.file(fmt::format("sys/devices/system/cpu/cpu{}/thermal_throttle/"
                                    "core_throttle_count",
                                    i),
                        "14\n");
             }
         },
         {{4200, 4200, 4100, 800, 3300, 3300, 3200, 3200}, 57.0, 3.5, std::nullopt, 5}},
        {"AMD Zen 4 desktop",
         test::amd_zen_desktop_sensors,
         false,
         "requested",
         cpufreq_clock,
         no_msr,
         "the hottest of hwmon k10temp Tctl, Tccd1, Tccd2",
         "powercap intel-rapl:0 package-0 energy_uj",
         no_throttle,
         {{5081, 4950, 3000, 545}, 74.25, 0.0, std::nullopt, std::nullopt},
         [](sysfs_tree& t) {
             t.file("sys/class/powercap/intel-rapl:0/energy_uj", "205956789\n");
             test::hwmon_temperature(t, "hwmon1", 3, "Tccd1", 89000);
             t.file("sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", "3000000\n");
         },
         {{3000, 4950, 3000, 545}, 89.0, 82.5, std::nullopt, std::nullopt}},
        {"two-package AMD server, four processors offline",
         test::amd_two_socket_server_sensors,
         false,
         "requested",
         cpufreq_clock,
         no_msr,
         "the hottest of hwmon k10temp Tctl, Tccd1; hwmon k10temp Tctl, Tccd1",
         "powercap intel-rapl:0 package-0 + intel-rapl:1 package-1 energy_uj",
         no_throttle,
         {{2450, 2450, 2450, 2450, 3100, 3100, 3100, 3100}, 63.5, 0.0, std::nullopt, std::nullopt},
         [](sysfs_tree& t) {
             // The first package wraps 0.610987 J after its last value, the second goes on.
             t.file("sys/class/powercap/intel-rapl:0/energy_uj", "389013\n");
             t.file("sys/class/powercap/intel-rapl:1/energy_uj", "6000000\n");
             std::filesystem::remove(t.root() / "sys/class/hwmon/hwmon1/temp1_input");
             t.file("sys/devices/system/cpu/cpu9/cpufreq/scaling_cur_freq", "1500000\n");
         },
         {{2450, 2450, 2450, 2450, 3100, 1500, 3100, 3100}, 60.0, 6.0, std::nullopt, std::nullopt}},
        {"first Threadripper, Tctl offset over Tdie",
         test::amd_threadripper_sensors,
         false,
         "requested",
         cpufreq_clock,
         no_msr,
         "hwmon k10temp Tdie",
         no_power,
         "none: no thermal_throttle counters in /sys/devices/system/cpu/cpu*",
         {{3400, 3400, 3400, 3400}, 50.0, std::nullopt, std::nullopt, std::nullopt},
         [](sysfs_tree&) {},
         {{3400, 3400, 3400, 3400}, 50.0, std::nullopt, std::nullopt, std::nullopt}},
        {"virtual machine",
         test::virtual_machine_sensors,
         true,
         "reported",
         "/proc/cpuinfo cpu MHz",
         "under a hypervisor this is the nominal clock, not the one reached; no /dev/cpu/0/msr: "
         "the msr module is not loaded; no cpufreq scaling_cur_freq",
         no_temperature,
         no_power,
         no_throttle,
         {{2994.374, 2994.374, 2994.374, 2994.374},
          std::nullopt,
          std::nullopt,
          std::nullopt,
          std::nullopt},
         [](sysfs_tree& t) {
             t.file("proc/cpuinfo", test::cpuinfo_with_mhz("GenuineIntel", {2994.374, 2100}));
         },
         {{2994.374, 2100, std::nullopt, std::nullopt},
          std::nullopt,
          std::nullopt,
          std::nullopt,
          std::nullopt}},
        {"an empty folder",
         [](sysfs_tree&) {},
         false,
         "",
         "none: no processor in /sys/devices/system/cpu/online or /proc/cpuinfo",
         nullptr,
         no_temperature,
         no_power,
         no_throttle,
         {{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
         [](sysfs_tree&) {},
         {{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        sysfs_tree t;
        r.write(t);
        sysfs_sensor_options options;
        options.hypervisor = r.hypervisor;
        const auto reader = open_sysfs_sensors(t.root(), options);
        const sensor_status& s = reader->status();
        EXPECT_EQ(s.clock_label, r.label);
        EXPECT_EQ(where(s.clock), r.clock);
        EXPECT_EQ(s.clock.note.value_or(""), r.clock_note ? r.clock_note : "");
        EXPECT_EQ(where(s.temperature), r.temperature);
        EXPECT_EQ(where(s.power), r.power);
        EXPECT_EQ(where(s.throttle), r.throttle);
        EXPECT_EQ(s.logical_processors, r.first.clock_mhz.size());
        expect_look(reader->read(), r.first, "first read");
        r.change(t);
        expect_look(reader->read(), r.second, "second read");
    }
}

// The stand-in for /dev/cpu/N/msr is a plain file, where APERF's eight bytes at 0xE8 cover all
// of MPERF's at 0xE7 but the lowest: MPERF reads as that byte plus 256 x APERF (modulo 2^64).
void write_msr(sysfs_tree& t, int cpu, std::uint64_t aperf, std::uint8_t mperf_low) {
    const auto path = t.root() / fmt::format("dev/cpu/{}/msr", cpu);
    if (!std::filesystem::exists(path)) {
        t.file(fmt::format("dev/cpu/{}/msr", cpu), std::string(0x100, '\0'));
    }
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    const auto put = [&f](std::streamoff at, std::uint64_t v) {
        char bytes[8];
        for (int i = 0; i < 8; ++i) {
            bytes[i] = static_cast<char>(v >> (8 * i));
        }
        f.seekp(at);
        f.write(bytes, sizeof bytes);
    };
    put(0xE7, mperf_low);
    put(0xE8, aperf);
}

TEST(SysfsSensors, EffectiveClockFromTheMsrDevice) {
    struct row {
        const char* what;
        std::uint64_t aperf; // before; 1 more after unless stated
        std::uint8_t low_before, low_after;
        std::optional<double> mhz; // at a 512 GHz counter rate: 2000 MHz x 256 / (256 + Δlow)
        std::uint64_t aperf_step = 1;
    };
    const row rows[] = {
        {"turbo, twice the counter rate", 1000000, 200, 72, 4000.0},
        {"the counter rate", 2000000, 5, 5, 2000.0},
        {"a clock that falls", 3000000, 0, 128, 2000.0 * 256 / 384},
        {"MPERF wraps at 2^64", (std::uint64_t{1} << 56) - 1, 10, 10, 2000.0},
        {"asleep all along: no count", 4000000, 9, 9, std::nullopt, 0},
        {"two steps", 5000000, 0, 0, 2000.0, 2},
    };
    sysfs_tree t;
    test::intel_hybrid_laptop_sensors(t);
    t.file("sys/devices/system/cpu/online", fmt::format("0-{}\n", std::size(rows) - 1));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        write_msr(t, static_cast<int>(i), rows[i].aperf, rows[i].low_before);
    }
    sysfs_sensor_options options;
    options.tsc_hz = [] { return std::optional<double>(512e9); };
    const auto reader = open_sysfs_sensors(t.root(), options);
    EXPECT_EQ(reader->status().clock_label, "effective");
    EXPECT_EQ(where(reader->status().clock), "/dev/cpu/*/msr (APERF/MPERF)");
    EXPECT_FALSE(reader->status().clock.note);
    const sensor_reading first = reader->read();
    ASSERT_EQ(first.clock_mhz.size(), std::size(rows));
    for (const auto& mhz : first.clock_mhz) {
        EXPECT_FALSE(mhz) << "a mean over no time";
    }
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        write_msr(t, static_cast<int>(i), rows[i].aperf + rows[i].aperf_step, rows[i].low_after);
    }
    const sensor_reading second = reader->read();
    ASSERT_EQ(second.clock_mhz.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        ASSERT_EQ(second.clock_mhz[i].has_value(), rows[i].mhz.has_value());
        if (rows[i].mhz) {
            EXPECT_NEAR(*second.clock_mhz[i], *rows[i].mhz, 1e-6);
        }
    }
#if defined(__x86_64__) || defined(_M_X64)
    // Without a given rate the reader times the counter itself: the real one runs at 0.1 to
    // 10 GHz, and Δ MPERF = 256 Δ APERF here.
    const auto timed = open_sysfs_sensors(t.root(), {});
    timed->read();
    write_msr(t, 1, rows[1].aperf + 2, rows[1].low_after);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto mhz = timed->read().clock_mhz.at(1);
    ASSERT_TRUE(mhz);
    EXPECT_GT(*mhz, 100.0 / 256);
    EXPECT_LT(*mhz, 10000.0 / 256);
#endif
}

void write_hwmon_energy(sysfs_tree& t, int n, const char* label, std::uint64_t uj) {
    t.file(fmt::format("sys/class/hwmon/hwmon2/energy{}_label", n), std::string(label) + "\n");
    t.file(fmt::format("sys/class/hwmon/hwmon2/energy{}_input", n), fmt::format("{}\n", uj));
}

// Power where RAPL is missing: hwmon's energy (amd_energy's sockets, not also their cores) or
// the processor's power rails, never another device's power.
TEST(SysfsSensors, PowerFromHwmonWithoutRapl) {
    struct row {
        const char* what;
        void (*write)(sysfs_tree&);
        const char* power;
        std::optional<double> energy_first, energy_second, power_w;
    };
    const row rows[] = {
        {"amd_energy per core and per socket",
         [](sysfs_tree& t) {
             t.file("sys/class/hwmon/hwmon2/name", "amd_energy\n");
             write_hwmon_energy(t, 1, "Ecore000", 5000000);
             write_hwmon_energy(t, 2, "Ecore001", 7000000);
             write_hwmon_energy(t, 3, "Esocket0", 40000000);
         },
         "hwmon amd_energy /sys/class/hwmon/hwmon2/energy3_input", 0.0, 2.5, std::nullopt},
        {"zenpower's core and SoC rails",
         [](sysfs_tree& t) {
             t.file("sys/class/hwmon/hwmon2/name", "zenpower\n");
             t.file("sys/class/hwmon/hwmon2/power1_label", "SVI2_P_Core\n");
             t.file("sys/class/hwmon/hwmon2/power1_input", "61250000\n");
             t.file("sys/class/hwmon/hwmon2/power2_label", "SVI2_P_SoC\n");
             t.file("sys/class/hwmon/hwmon2/power2_input", "14750000\n");
         },
         "hwmon /sys/class/hwmon/hwmon2/power1_input + /sys/class/hwmon/hwmon2/power2_input",
         std::nullopt, std::nullopt, 76.0},
        {"only the graphics card's power",
         [](sysfs_tree& t) {
             t.file("sys/class/hwmon/hwmon2/name", "amdgpu\n");
             t.file("sys/class/hwmon/hwmon2/power1_average", "35000000\n");
         },
         no_power, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        sysfs_tree t;
        test::amd_threadripper_sensors(t);
        r.write(t);
        const auto reader = open_sysfs_sensors(t.root(), {});
        EXPECT_EQ(where(reader->status().power), r.power);
        const sensor_reading first = reader->read();
        EXPECT_EQ(first.energy_j, r.energy_first);
        EXPECT_EQ(first.power_w, r.power_w);
        write_hwmon_energy(t, 3, "Esocket0", 42500000);
        EXPECT_EQ(reader->read().energy_j, r.energy_second);
    }
}

#ifndef _WIN32
const char* const unprivileged_child = "KX_SENSORS_UNPRIVILEGED";

// Root reads every file whatever its mode: the test runs again in a child without the two
// capabilities that let it. False when this process is that child or not root.
bool ran_unprivileged(const char* test) {
    if (::geteuid() != 0 || std::getenv(unprivileged_child) != nullptr) {
        return false;
    }
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string command = fmt::format(
        "{}=1 setpriv --bounding-set=-dac_override,-dac_read_search -- '{}' --gtest_filter={}",
        unprivileged_child, self, test);
    const int status = std::system(command.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        ADD_FAILURE() << "setpriv is missing (util-linux)";
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    }
    return true;
}
#endif

TEST(SysfsSensors, FilesThatCannotBeReadOrHoldNoNumber) {
#ifndef _WIN32
    if (ran_unprivileged("SysfsSensors.FilesThatCannotBeReadOrHoldNoNumber")) {
        return;
    }
#endif
    struct row {
        const char* what;
        bool modes; // needs a file mode that keeps this user out
        void (*spoil)(sysfs_tree&);
        // Expected where given.
        const char *label, *clock_note, *temperature, *power;
        std::uint64_t processors = 8;
    };
    const row rows[] = {
        {"every processor's counters", false, [](sysfs_tree&) {}, "effective", nullptr, nullptr,
         nullptr},
        {"the msr device is root-only", true, [](sysfs_tree& t) { t.unreadable("dev/cpu/0/msr"); },
         "requested", "Permission denied: the msr device is root-only", nullptr, nullptr},
        {"a processor that does not give APERF", false,
         [](sysfs_tree& t) { t.file("dev/cpu/5/msr", ""); }, "requested",
         "Input/output error: the processor or hypervisor does not expose APERF/MPERF", nullptr,
         nullptr},
        {"RAPL energy is root-only", true,
         [](sysfs_tree& t) { t.unreadable("sys/class/powercap/intel-rapl:0/energy_uj"); }, nullptr,
         nullptr, nullptr,
         "none: could not read /sys/class/powercap/intel-rapl:0/energy_uj: Permission denied "
         "(root only since 2020 kernels)"},
        {"energy that is no number", false,
         [](sysfs_tree& t) { t.file("sys/class/powercap/intel-rapl:0/energy_uj", "n/a\n"); },
         nullptr, nullptr, nullptr,
         "none: /sys/class/powercap/intel-rapl:0/energy_uj holds no number"},
        {"coretemp unreadable: the package's thermal zone instead", true,
         [](sysfs_tree& t) {
             for (int n : {1, 2, 3, 10, 11, 12, 13}) {
                 t.unreadable(fmt::format("sys/class/hwmon/hwmon5/temp{}_input", n));
             }
         },
         nullptr, nullptr, "thermal_zone5 x86_pkg_temp", nullptr},
        {"nothing readable at all", true,
         [](sysfs_tree& t) {
             for (int n : {1, 2, 3, 10, 11, 12, 13}) {
                 t.unreadable(fmt::format("sys/class/hwmon/hwmon5/temp{}_input", n));
             }
             t.file("sys/class/thermal/thermal_zone5/temp", "\n");
             t.file("sys/class/thermal/thermal_zone0/temp", "\n");
         },
         nullptr, nullptr,
         "none: could not read /sys/class/hwmon/hwmon5/temp1_input: Permission denied", nullptr},
        {"an online list of two billion processors: cpuinfo's instead", false,
         [](sysfs_tree& t) { t.file("sys/devices/system/cpu/online", "0-2000000000\n"); },
         "effective", nullptr, nullptr, nullptr},
        {"neither list parses", false,
         [](sysfs_tree& t) {
             t.file("sys/devices/system/cpu/online", "3-1\n");
             t.file("proc/cpuinfo", "processor\t: -1\nprocessor:\ncpu MHz : x\n\xff\xfe:\n");
         },
         "", nullptr, nullptr, nullptr, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
#ifdef _WIN32
        if (r.modes) {
            continue; // file modes do not keep a Windows user out
        }
#endif
        sysfs_tree t;
        test::intel_hybrid_laptop_sensors(t);
        for (int i = 0; i < 8; ++i) {
            write_msr(t, i, 1000000, 0);
        }
        r.spoil(t);
        sysfs_sensor_options options;
        options.tsc_hz = [] { return std::optional<double>(3e9); };
        const auto reader = open_sysfs_sensors(t.root(), options);
        const sensor_status& s = reader->status();
        EXPECT_EQ(s.logical_processors, r.processors);
        if (r.label) {
            EXPECT_EQ(s.clock_label, r.label);
        }
        if (r.clock_note) {
            EXPECT_EQ(s.clock.note, r.clock_note);
        }
        if (r.temperature) {
            EXPECT_EQ(where(s.temperature), r.temperature);
        }
        if (r.power) {
            EXPECT_EQ(where(s.power), r.power);
        }
        reader->read();
        EXPECT_EQ(reader->read().clock_mhz.size(), r.processors);
    }
}

#ifndef _WIN32
// This machine, as kestrix-results will see it: every series has a source or says why not, and
// the clock has one entry per online processor.
TEST(SysfsSensors, ThisMachineSaysWhatItCanMeasure) {
    const auto reader = open_system_sensors("/", false);
    const sensor_status& s = reader->status();
    EXPECT_EQ(s.logical_processors, static_cast<std::uint64_t>(::sysconf(_SC_NPROCESSORS_ONLN)));
    for (const sensor_source* series : {&s.clock, &s.temperature, &s.power, &s.throttle}) {
        EXPECT_NE(series->found(), series->unavailable.has_value()) << where(*series);
    }
    EXPECT_EQ(reader->read().clock_mhz.size(), s.logical_processors);
}
#endif

} // namespace
} // namespace kestrix::results
