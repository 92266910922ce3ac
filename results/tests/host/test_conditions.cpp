// The conditions' arithmetic and judgement on recorded values: the load from two looks at
// /proc/stat, which settings warn, and the power source among several supplies.
#include "conditions.hpp"
#include "sysfs_trees.hpp"

#include <gtest/gtest.h>

#include <string>

namespace kestrix::results {
namespace {

load_sample sample(const char* stat, double own_s, double at_s) {
    load_sample s;
    s.system = parse_proc_stat(stat);
    s.why = "no stat";
    s.own_cpu_s = own_s;
    s.at_s = at_s;
    return s;
}

TEST(Conditions, OtherLoadFromTwoLooksAtProcStat) {
    struct row {
        const char* what;
        const char *before, *after;
        double own_s; // this program's processor time between the looks
        double other, steal;
        const char* unavailable;
    };
    // user nice system idle iowait irq softirq steal guest guest_nice, at 100 ticks a second.
    const row rows[] = {
        {"idle", "cpu  100 0 50 1000 0 0 0 0 0 0", "cpu  100 0 50 1200 0 0 0 0 0 0", 0, 0, 0,
         nullptr},
        {"every kind of busy time, guest time not twice", "cpu  100 0 50 1000 9 0 0 0 0 0",
         "cpu  110 5 60 1000 99 3 2 0 7 1", 0, 30, 0, nullptr},
        {"this program's own time left out", "cpu  100 0 50 1000 0 0 0 0 0 0",
         "cpu  140 0 60 1000 0 0 0 0 0 0", 0.35, 15, 0, nullptr},
        {"steal time counts as other load", "cpu  100 0 50 1000 0 0 0 40 0 0",
         "cpu  100 0 50 1000 0 0 0 65 0 0", 0, 25, 25, nullptr},
        {"never below nothing", "cpu  100 0 50 1000 0 0 0 0 0 0", "cpu  101 0 50 1000 0 0 0 0 0 0",
         0.2, 0, 0, nullptr},
        {"older kernel without steal", "cpu  100 0 50 1000", "cpu  120 0 50 1000", 0, 20, 0,
         nullptr},
        {"counters went backwards", "cpu  100 0 50 1000 0 0 0 0 0 0",
         "cpu  90 0 50 1000 0 0 0 0 0 0", 0, 0, 0,
         "/proc/stat went backwards during the measurement"},
        {"no cpu line", "cpu0 1 2 3 4 5 6 7 8", "cpu  120 0 50 1000", 0, 0, 0, "no stat"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const condition<load_figures> c =
            load_between(sample(r.before, 1.0, 10.0), sample(r.after, 1.0 + r.own_s, 11.0), 100);
        if (r.unavailable) {
            EXPECT_FALSE(c.value);
            EXPECT_EQ(c.unavailable, r.unavailable);
            continue;
        }
        ASSERT_TRUE(c.value) << c.unavailable.value_or("");
        EXPECT_NEAR(c.value->other_busy_percent, r.other, 1e-9);
        EXPECT_NEAR(c.value->steal_percent, r.steal, 1e-9);
        EXPECT_EQ(c.value->window_s, 1.0);
    }
}

template <class T> condition<T> read(T v) {
    condition<T> c;
    c.value = std::move(v);
    c.source = "recorded";
    return c;
}

TEST(Conditions, WhichSettingsWarn) {
    struct row {
        const char* what;
        run_conditions c;
        const char* warning; // the one expected, or none
    };
    const auto with = [](auto set) {
        run_conditions c;
        set(c);
        return c;
    };
    const row rows[] = {
        {"10 % of one processor is still quiet", with([](run_conditions& c) {
             c.other_load = read(load_figures{10.0, 0, 1});
         }),
         nullptr},
        {"just above 10 %", with([](run_conditions& c) {
             c.other_load = read(load_figures{10.4, 3.2, 1});
         }),
         "other processes kept 10 % of one processor busy in the second before the start (steal "
         "time 3 %), the score may be low and noisy"},
        {"powersave is intel_pstate's usual mode", with([](run_conditions& c) {
             c.frequency_driver = read(std::string("intel_pstate"));
             c.governor = read(per_processor{{"powersave", 8}});
         }),
         nullptr},
        {"and amd-pstate's in active mode", with([](run_conditions& c) {
             c.frequency_driver = read(std::string("amd-pstate-epp"));
             c.governor = read(per_processor{{"powersave", 8}});
         }),
         nullptr},
        {"passive intel_pstate uses the generic powersave", with([](run_conditions& c) {
             c.frequency_driver = read(std::string("intel_cpufreq"));
             c.governor = read(per_processor{{"powersave", 8}});
         }),
         "the powersave governor holds every processor at its lowest clock (intel_cpufreq), the "
         "score may be low"},
        {"powersave without a known driver", with([](run_conditions& c) {
             c.governor = read(per_processor{{"powersave", 2}});
         }),
         "the powersave governor holds every processor at its lowest clock, the score may be low"},
        {"schedutil is dynamic", with([](run_conditions& c) {
             c.frequency_driver = read(std::string("acpi-cpufreq"));
             c.governor = read(per_processor{{"schedutil", 8}});
         }),
         nullptr},
        {"preference power", with([](run_conditions& c) {
             c.energy_performance_preference = read(per_processor{{"power", 1}, {"default", 3}});
         }),
         "the energy-performance preference is power on 1 of 4 processors: the processors favour "
         "saving power, the score may be low"},
        {"balance_performance is the usual default", with([](run_conditions& c) {
             c.energy_performance_preference = read(per_processor{{"balance_performance", 4}});
         }),
         nullptr},
        {"intel turbo off", with([](run_conditions& c) {
             c.turbo = read(false);
             c.turbo.source = "/sys/devices/system/cpu/intel_pstate/no_turbo";
         }),
         "turbo is switched off, the score may be low"},
        {"turbo on", with([](run_conditions& c) { c.turbo = read(true); }), nullptr},
        {"smt switched off", with([](run_conditions& c) { c.smt = read(std::string("off")); }),
         "simultaneous multithreading is switched off (off): one logical processor per core, the "
         "score may be lower than this processor can reach"},
        {"a processor without smt",
         with([](run_conditions& c) { c.smt = read(std::string("notsupported")); }), nullptr},
        {"on mains", with([](run_conditions& c) { c.on_battery = read(false); }), nullptr},
        {"huge pages are recorded only",
         with([](run_conditions& c) { c.transparent_huge_pages = read(std::string("never")); }),
         nullptr},
    };
    for (auto r : rows) {
        SCOPED_TRACE(r.what);
        add_warnings(r.c);
        const std::vector<std::string> w = r.c.warnings();
        if (r.warning) {
            ASSERT_EQ(w.size(), 1u);
            EXPECT_EQ(w[0], r.warning);
        } else {
            EXPECT_TRUE(w.empty()) << w[0];
        }
    }
}

TEST(Conditions, PowerSourceAmongSeveralSupplies) {
    using test::sysfs_tree;
    const std::string ps = "sys/class/power_supply/";
    struct row {
        const char* what;
        void (*write)(sysfs_tree&, const std::string&);
        std::optional<bool> on_battery;
        const char* source_or_why;
    };
    const row rows[] = {
        {"mains connected while the battery reports discharging",
         [](sysfs_tree& t, const std::string& p) {
             t.file(p + "ADP1/type", "Mains\n").file(p + "ADP1/online", "1\n");
             t.file(p + "BAT0/type", "Battery\n").file(p + "BAT0/status", "Discharging\n");
         },
         false, "/sys/class/power_supply/ADP1/online"},
        {"charging over USB-C",
         [](sysfs_tree& t, const std::string& p) {
             t.file(p + "ucsi-source-psy-USBC000:001/type", "USB\n");
             t.file(p + "ucsi-source-psy-USBC000:001/online", "1\n");
             t.file(p + "BAT0/type", "Battery\n").file(p + "BAT0/status", "Charging\n");
         },
         false, "/sys/class/power_supply/ucsi-source-psy-USBC000:001/online"},
        {"second battery discharges",
         [](sysfs_tree& t, const std::string& p) {
             t.file(p + "AC/type", "Mains\n").file(p + "AC/online", "0\n");
             t.file(p + "BAT0/type", "Battery\n").file(p + "BAT0/status", "Full\n");
             t.file(p + "BAT1/type", "Battery\n").file(p + "BAT1/status", "Discharging\n");
         },
         true, "/sys/class/power_supply/BAT1/status"},
        {"full battery, adapter state unknown",
         [](sysfs_tree& t, const std::string& p) {
             t.file(p + "BAT0/type", "Battery\n").file(p + "BAT0/status", "Not charging\n");
         },
         false, "/sys/class/power_supply/BAT0/status (Not charging)"},
        {"only a headset's battery",
         [](sysfs_tree& t, const std::string& p) {
             t.file(p + "hid-battery/type", "Battery\n").file(p + "hid-battery/scope", "Device\n");
             t.file(p + "hid-battery/status", "Discharging\n");
         },
         false, "/sys/class/power_supply: no system battery"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        sysfs_tree t;
        r.write(t, ps);
        const condition<bool> c = read_sysfs_conditions(t.root()).on_battery;
        EXPECT_EQ(c.value, r.on_battery);
        EXPECT_EQ(c.value ? c.source : c.unavailable, r.source_or_why);
    }
}

} // namespace
} // namespace kestrix::results
