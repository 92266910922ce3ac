// The conditions of a run as `kestrix-results run` checks, prints and records them: recorded
// machines replayed through KESTRIX_FSROOT into the real program, whose kestrix child still runs
// on this machine; a bad root; on Windows, what the system tells.
#include "model/storage.hpp"
#include "support/run_binary.hpp"
#include "sysfs_trees.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>

#include "platform/topology.hpp"
#endif

namespace fs = std::filesystem;
using kestrix::results::read_whole_file;
using kestrix::results::test::fresh_dir;
using kestrix::results::test::host_path;
using kestrix::results::test::sysfs_tree;
using nlohmann::json;

namespace {

json only_record(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        files.push_back(e.path());
    }
    EXPECT_EQ(files.size(), 1u);
    if (files.size() != 1) {
        return nullptr;
    }
    // Left for the schema test, which checks every record's shape.
    if (const char* keep = std::getenv("KX_CONDITIONS_OUT")) {
        static const auto emptied = fs::remove_all(keep); // this run's records only
        (void)emptied;
        fs::create_directories(keep);
        fs::copy_file(files[0], fs::path(keep) / files[0].filename(),
                      fs::copy_options::overwrite_existing);
    }
    return json::parse(read_whole_file(files[0].string()));
}

#ifndef _WIN32

std::vector<std::string> warning_lines(const std::string& err) {
    std::vector<std::string> out;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("kestrix-results: warning: ", 0) == 0) {
            out.push_back(line.substr(26));
        }
    }
    return out;
}

bool contains(const json& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

class fsroot_variable {
public:
    explicit fsroot_variable(const std::string& root) {
        ::setenv("KESTRIX_FSROOT", root.c_str(), 1);
    }
    ~fsroot_variable() { ::unsetenv("KESTRIX_FSROOT"); }
};

// Root reads every file whatever its mode: as an unprivileged user does, without the two
// capabilities that override read permission.
std::vector<std::string> unprivileged() {
    if (::geteuid() != 0) {
        return {};
    }
    return {"setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"};
}

std::uint64_t this_machines_logical_processors() {
    std::uint64_t n = 0;
    for (const auto& node : kestrix::detect_topology().numa_nodes) {
        for (const auto& llc : node.llcs) {
            for (const auto& core : llc.cores) {
                n += core.logicals.size();
            }
        }
    }
    return n;
}

struct tree_row {
    const char* machine;
    void (*write)(sysfs_tree&);
    // Expected from the tree; the hypervisor's warning comes from this processor.
    std::vector<std::string> warnings;
    std::map<std::string, json> values;
    std::map<std::string, std::string> unavailable;
    json logical_processors; // from the tree through hwloc; null: the tree has no topology
    json os_name = nullptr, kernel = nullptr, memory_total = nullptr; // from the tree's files
};

TEST(ConditionsCli, RecordedMachinesReplayThroughTheRealProgram) {
    const std::string denied = ": Permission denied";
    const std::string epp = "/sys/devices/system/cpu/cpu0/cpufreq/energy_performance_preference";
    const tree_row rows[] = {
        {"intel laptop on battery",
         kestrix::results::test::intel_laptop,
         {"the energy-performance preference is balance_power on every processor: the processors "
          "favour saving power, the score may be low",
          "running on battery: the processors may be held at a lower clock, the score may be low"},
         {{"frequency_driver", "intel_pstate"},
          {"governor", {{"powersave", 4}}},
          {"energy_performance_preference", {{"balance_power", 4}}},
          {"turbo", true},
          {"smt", "on"},
          {"on_battery", true},
          {"transparent_huge_pages", "madvise"}},
         {},
         4,
         "Ubuntu 24.04.1 LTS",
         "Linux 6.8.0-45 #45-Ubuntu SMP PREEMPT_DYNAMIC",
         32562100ull * 1024},
        {"amd desktop, boost and smt off",
         kestrix::results::test::amd_desktop,
         {"the powersave governor holds 2 of 4 processors at its lowest clock (acpi-cpufreq), "
          "the score may be low",
          "boost is switched off, the score may be low",
          "simultaneous multithreading is switched off (forceoff): one logical processor per "
          "core, the score may be lower than this processor can reach"},
         {{"frequency_driver", "acpi-cpufreq"},
          {"governor", {{"performance", 2}, {"powersave", 2}}},
          {"turbo", false},
          {"smt", "forceoff"},
          {"on_battery", false},
          {"transparent_huge_pages", "always"}},
         {{"energy_performance_preference",
           "no processor has /sys/devices/system/cpu/cpu*/cpufreq/energy_performance_preference"}},
         4},
        {"virtual machine without these files",
         [](sysfs_tree&) {},
         {},
         {},
         {{"other_load", "could not read /proc/stat: No such file or directory"},
          {"frequency_driver", "no processor in /sys/devices/system/cpu"},
          {"governor", "no processor in /sys/devices/system/cpu"},
          {"turbo", "no intel_pstate/no_turbo or cpufreq/boost in /sys/devices/system/cpu: no "
                    "turbo switch to read"},
          {"smt", "no /sys/devices/system/cpu/smt: the kernel has no SMT control"},
          {"on_battery", "could not read /sys/class/power_supply: No such file or directory"},
          {"transparent_huge_pages", "could not read /sys/kernel/mm/transparent_hugepage/enabled: "
                                     "No such file or directory"}},
         nullptr},
        {"laptop whose root-only files cannot be read",
         [](sysfs_tree& t) {
             kestrix::results::test::intel_laptop(t);
             for (int i = 0; i < 4; ++i) {
                 t.unreadable(fmt::format("sys/devices/system/cpu/cpu{}/cpufreq/"
                                          "energy_performance_preference",
                                          i));
             }
             t.unreadable("sys/class/power_supply/BAT0/status").unreadable("proc/stat");
         },
         {},
         {{"frequency_driver", "intel_pstate"}, {"turbo", true}},
         {{"other_load", "could not read /proc/stat" + denied},
          {"energy_performance_preference", "could not read " + epp + denied},
          {"on_battery", "could not read /sys/class/power_supply/BAT0/status" + denied}},
         4,
         "Ubuntu 24.04.1 LTS",
         "Linux 6.8.0-45 #45-Ubuntu SMP PREEMPT_DYNAMIC",
         32562100ull * 1024},
    };
    const std::uint64_t here = this_machines_logical_processors();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.machine);
        sysfs_tree tree;
        row.write(tree);
        const fs::path out = fresh_dir("tree");
        const fsroot_variable root(tree.root().string());
        kestrix::test::started_kestrix run({"run", "--no-host", "--out", out.string(), "--kestrix",
                                            KX_KESTRIX_BINARY, "--", "--topo-debug"},
                                           {.prefix = unprivileged(), .cgroup_procs = {}});
        const auto r = run.finish();
        EXPECT_EQ(r.exit_code, 0) << r.err;
        const json rec = only_record(out);
        ASSERT_TRUE(rec.is_object());
        const json& c = rec["conditions"];

        std::vector<std::string> warnings = row.warnings;
        if (c["hypervisor"]["value"] == true) {
            warnings.push_back(c["hypervisor"]["warning"].get<std::string>());
        }
        std::vector<std::string> printed = warning_lines(r.err);
        std::sort(printed.begin(), printed.end());
        std::sort(warnings.begin(), warnings.end());
        EXPECT_EQ(printed, warnings) << r.err;

        for (const auto& [name, value] : row.values) {
            EXPECT_EQ(c[name]["value"], value) << name;
            EXPECT_TRUE(c[name]["source"].is_string()) << name;
        }
        for (const auto& [name, why] : row.unavailable) {
            EXPECT_EQ(c[name]["value"], nullptr) << name;
            EXPECT_EQ(c[name]["unavailable"], why) << name;
        }
        // A static /proc/stat: nobody else was busy.
        if (!row.unavailable.contains("other_load")) {
            EXPECT_EQ(c["other_load"]["value"]["other_busy_percent"], 0.0);
        }
        EXPECT_EQ(c["hypervisor"]["source"], "cpuid leaf 1 ecx bit 31");

        // The record says what came from the tree; the processor's own answers are not replayed.
        const json& where = rec["system"]["root"];
        EXPECT_EQ(where["path"], tree.root().generic_string());
        EXPECT_TRUE(contains(where["read_below_root"], "conditions.governor"));
        EXPECT_TRUE(contains(where["asked_of_processor"], "conditions.hypervisor"));
        EXPECT_TRUE(contains(where["asked_of_processor"], "system.facts.cpu.vendor"));
        EXPECT_EQ(contains(where["read_below_root"], "system.topology"),
                  !row.logical_processors.is_null());
        EXPECT_EQ(rec["system"]["topology"]["logical_processors"], row.logical_processors);
        EXPECT_EQ(rec["system"]["os"]["name"], row.os_name);
        EXPECT_EQ(rec["system"]["os"]["kernel"], row.kernel);
        EXPECT_EQ(rec["system"]["memory"]["total_bytes"], row.memory_total);
        // kestrix itself ran on this machine, not in the tree.
        EXPECT_EQ(rec["diagnostics"]["topology"]["logical_processors"], here);
    }
}

// A replayed laptop whose files a thread rewrites while the real program samples them: 0.5 J
// every 50 ms on an energy counter that wraps at 3 J, and after 2.6 s (of a run of about 5 s)
// the package sensor gone, every clock down to 1.2 GHz and one more throttle event on core 0.
TEST(ConditionsCli, SensorsOfATreeRewrittenDuringARealRun) {
    sysfs_tree tree;
    kestrix::results::test::intel_hybrid_laptop_sensors(tree);
    const std::uint64_t range = 3000000;
    tree.file("sys/class/powercap/intel-rapl:0/max_energy_range_uj", fmt::format("{}\n", range));
    tree.file("sys/class/powercap/intel-rapl:0/energy_uj", "2000000\n");
    const fs::path root = tree.root();
    auto put = [&](const std::string& path, const std::string& text) {
        const fs::path to = root / path, tmp = root / (path + ".new");
        std::ofstream(tmp, std::ios::binary) << text;
        fs::rename(tmp, to); // whole, as sysfs gives a value
    };
    std::atomic<bool> done{false};
    double watts_written = 0;
    std::thread writer([&] {
        std::uint64_t energy = 2000000, steps = 0;
        const auto start = std::chrono::steady_clock::now();
        bool switched = false;
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            energy = (energy + 500000) % range;
            ++steps;
            put("sys/class/powercap/intel-rapl:0/energy_uj", fmt::format("{}\n", energy));
            const auto since = std::chrono::steady_clock::now() - start;
            watts_written =
                0.5 * static_cast<double>(steps) / std::chrono::duration<double>(since).count();
            if (!switched && since > std::chrono::milliseconds(2600)) {
                switched = true;
                fs::remove(root / "sys/class/hwmon/hwmon5/temp1_input");
                for (int i = 0; i < 8; ++i) {
                    put(fmt::format("sys/devices/system/cpu/cpu{}/cpufreq/scaling_cur_freq", i),
                        "1200000\n");
                }
                for (int i = 0; i < 2; ++i) {
                    put(fmt::format(
                            "sys/devices/system/cpu/cpu{}/thermal_throttle/core_throttle_count", i),
                        "13\n");
                }
            }
        }
    });
    const fs::path out = fresh_dir("rewritten");
    const fsroot_variable variable(root.string());
    kestrix::test::started_kestrix run({"run", "--no-host", "--out", out.string(), "--kestrix",
                                        KX_KESTRIX_BINARY, "--sample-interval", "0.1", "--", "-d",
                                        "4", "-s", "64", "-n", "1", "--harness-sub-runs", "1"},
                                       {});
    const auto r = run.finish();
    done = true;
    writer.join();
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const json rec = only_record(out);
    ASSERT_TRUE(rec.is_object());
    const json& z = rec["sub_runs"][0]["sensors"];
    ASSERT_TRUE(z.is_object()) << rec["sub_runs"][0].dump();
    EXPECT_EQ(z["clock"]["label"], "requested");
    EXPECT_EQ(z["clock"]["processor_mean_mhz"].size(), 8u);
    bool fast = false, slow = false, hot = false, cooler = false;
    for (const json& p : z["clock"]["points"]) {
        fast = fast || p[1].get<double>() >= 3200;
        slow = slow || p[3].get<double>() <= 1200;
    }
    for (const json& p : z["temperature_c"]["points"]) {
        hot = hot || p[1] == 61.0;
        cooler = cooler || p[1] == 57.0;
    }
    EXPECT_TRUE(fast && slow) << z["clock"].dump();
    EXPECT_TRUE(hot && cooler) << z["temperature_c"].dump();
    EXPECT_EQ(z["temperature_c"]["points"].back()[1], 57.0);
    EXPECT_EQ(z["summary"]["temperature_max_c"], 61.0);
    // The writer's own rate (about 10 W): a wrap every 0.3 s, each unwound, never a negative
    // or a huge step.
    EXPECT_NEAR(z["summary"]["power_mean_w"].get<double>(), watts_written, 0.06 * watts_written)
        << z["power_w"].dump();
    for (const json& p : z["power_w"]["points"]) {
        EXPECT_GE(p[1].get<double>(), 0.0);
        EXPECT_LT(p[1].get<double>(), 100.0);
    }
    EXPECT_EQ(z["summary"]["throttle_events"], 1);
    EXPECT_GT(z["summary"]["mgups_per_w"].get<double>(), 0.0);
}

TEST(ConditionsCli, ARootThatIsNoFolderIsRefused) {
    const fs::path out = fresh_dir("badroot");
    const fsroot_variable root((out / "no-such-tree").string());
    kestrix::test::started_kestrix run({"run", "--out", (out / "records").string(), "--kestrix",
                                        KX_KESTRIX_BINARY, "--", "--help"});
    const auto r = run.finish();
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "kestrix-results: KESTRIX_FSROOT names " + (out / "no-such-tree").string() +
                         ", which is not a folder\n");
    EXPECT_FALSE(fs::exists(out / "records"));
}

#else

// Windows tells the power source and CPUID the hypervisor; the rest says why it is missing.
TEST(ConditionsCli, WindowsSaysWhatItCannotTell) {
    const fs::path out = fresh_dir("win");
    const auto r =
        kestrix::test::run_kestrix({"run", "--no-host", "--out", out.string(), "--kestrix",
                                    host_path(KX_KESTRIX_BINARY), "--", "--help"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const json rec = only_record(out);
    ASSERT_TRUE(rec.is_object());
    const json& c = rec["conditions"];
    for (const char* name :
         {"other_load", "frequency_driver", "governor", "energy_performance_preference", "turbo",
          "smt", "transparent_huge_pages"}) {
        EXPECT_EQ(c[name]["unavailable"].get<std::string>().rfind("not available on Windows: ", 0),
                  0u)
            << name;
    }
    EXPECT_EQ(c["hypervisor"]["source"], "cpuid leaf 1 ecx bit 31");
    EXPECT_TRUE(c["on_battery"]["source"].is_string() ||
                c["on_battery"]["unavailable"].is_string());
    EXPECT_EQ(rec["system"]["root"], nullptr);
}

// What a run's sensors say where the system gives no temperature or power.
TEST(ConditionsCli, WindowsSensorsSayWhatIsMissing) {
    const fs::path out = fresh_dir("winsensors");
    const auto r =
        kestrix::test::run_kestrix({"run", "--no-host", "--out", out.string(), "--kestrix",
                                    host_path(KX_KESTRIX_BINARY), "--sample-interval", "0.2", "--",
                                    "-d", "1", "-s", "64", "-n", "1", "--harness-sub-runs", "1"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const json rec = only_record(out);
    ASSERT_TRUE(rec.is_object());
    const json& z = rec["sub_runs"][0]["sensors"];
    ASSERT_TRUE(z.is_object()) << rec["sub_runs"][0].dump();
    EXPECT_GE(z["samples"].get<int>(), 2);
    for (const char* series : {"temperature_c", "power_w"}) {
        EXPECT_EQ(z[series]["origin"]["unavailable"], "not available without a vendor driver");
    }
    // PDH's counters where the system has them, else the power manager's clock.
    const std::string label = z["clock"]["label"].get<std::string>();
    EXPECT_TRUE(label == "effective" || label == "reported") << z["clock"].dump();
    EXPECT_GT(z["summary"]["clock_mean_mhz"].get<double>(), 100.0) << z["clock"].dump();
}

#endif

} // namespace
