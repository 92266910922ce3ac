// Machine facts from recorded sysfs/proc trees, their JSON, and this machine read independently.
#include "facts.hpp"
#include "machine_facts.hpp"
#include "platform/recorded_cpus.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kestrix::results {
namespace {

namespace fs = std::filesystem;

// A recorded tree in a fresh temporary folder, removed afterwards.
class recorded_tree {
public:
    recorded_tree() {
        root_ = fs::temp_directory_path() /
                ("kx-facts-" + std::to_string(std::random_device{}()) + "-" +
                 std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(root_);
    }
    ~recorded_tree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    recorded_tree(const recorded_tree&) = delete;
    recorded_tree& operator=(const recorded_tree&) = delete;

    recorded_tree& file(const std::string& path, const std::string& text) {
        const fs::path p = root_ / path;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        return *this;
    }
    // One cache of one processor.
    recorded_tree& cache(int cpu, int index, int level, const char* type, const char* size,
                         const char* shared) {
        const std::string dir = "sys/devices/system/cpu/cpu" + std::to_string(cpu) +
                                "/cache/index" + std::to_string(index) + "/";
        return file(dir + "level", std::to_string(level) + "\n")
            .file(dir + "type", std::string(type) + "\n")
            .file(dir + "size", std::string(size) + "\n")
            .file(dir + "shared_cpu_list", std::string(shared) + "\n");
    }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

// Two packages, an offline processor in the middle (no cache or topology directory), one L3 per
// package, cpufreq on two processors, DMI with serial numbers and a UUID beside the names.
void two_package_machine(recorded_tree& t) {
    t.file("proc/cpuinfo", "processor\t: 0\nvendor_id\t: AuthenticAMD\nmicrocode\t: 0xb404023\n\n"
                           "processor\t: 1\nmicrocode\t: 0xb404023\n");
    for (const int cpu : {0, 1, 3}) {
        const char* l3 = cpu == 3 ? "3" : "0-1";
        const std::string own = std::to_string(cpu);
        t.cache(cpu, 0, 1, "Data", "48K", own.c_str())
            .cache(cpu, 1, 1, "Instruction", "32K", own.c_str())
            .cache(cpu, 2, 2, "Unified", "1024K", own.c_str())
            .cache(cpu, 3, 3, "Unified", "32768K", l3)
            .file("sys/devices/system/cpu/cpu" + own + "/topology/physical_package_id",
                  cpu == 3 ? "1\n" : "0\n");
    }
    t.file("sys/devices/system/cpu/cpu2/online", "0\n")
        .file("sys/devices/system/cpu/cpufreq/boost", "1\n")
        .file("sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "5000000\n")
        .file("sys/devices/system/cpu/cpu3/cpufreq/cpuinfo_max_freq", "5700000\n");
    const std::string dmi = "sys/class/dmi/id/";
    t.file(dmi + "board_vendor", "ASUSTeK COMPUTER INC.\n")
        .file(dmi + "board_name", "ROG CROSSHAIR X670E HERO\n")
        .file(dmi + "bios_vendor", "American Megatrends Inc.\n")
        .file(dmi + "bios_version", "1904\n")
        .file(dmi + "bios_date", "09/26/2023\n")
        .file(dmi + "sys_vendor", "ASUS\n")
        .file(dmi + "product_name", "System Product Name\n")
        .file(dmi + "board_serial", "SERIAL-BOARD-1234\n")
        .file(dmi + "product_serial", "SERIAL-PRODUCT-5678\n")
        .file(dmi + "product_uuid", "0b1c2d3e-4f50-6172-8394-a5b6c7d8e9f0\n");
}

TEST(MachineFacts, RecordedTreeWholeTopology) {
    recorded_tree t;
    two_package_machine(t);
    const machine_answers m = read_sysfs_machine(t.root());
    EXPECT_EQ(m.microcode.value, "0xb404023");
    EXPECT_EQ(m.microcode.source, "/proc/cpuinfo microcode");
    ASSERT_TRUE(m.caches.value);
    // cpu3 lies beyond the offline cpu2: its caches and package count.
    const std::vector<cache_level> expected = {{1, "data", 48 * 1024, 3},
                                               {1, "instruction", 32 * 1024, 3},
                                               {2, "unified", 1024 * 1024, 3},
                                               {3, "unified", 32 * 1024 * 1024, 2}};
    EXPECT_EQ(*m.caches.value, expected);
    EXPECT_EQ(m.packages.value, 2U);
    EXPECT_EQ(m.max_mhz.value, 5700U);
    EXPECT_FALSE(m.base_mhz.value);
    EXPECT_EQ(m.board.board_name.value, "ROG CROSSHAIR X670E HERO");
    EXPECT_EQ(m.board.bios_date.value, "09/26/2023");
    EXPECT_EQ(m.board.product_name.source, "/sys/class/dmi/id/product_name");
}

// The record holds no serial number or UUID; without host details no board identifier either.
TEST(MachineFacts, NoSerialsAndNoBoardWithoutHost) {
    recorded_tree t;
    two_package_machine(t);
    const test::fake_cpu cpu = test::zen4();
    for (const bool with_host : {true, false}) {
        const system_facts f = assemble_system_facts(take_cpuid_snapshot(cpu),
                                                     read_sysfs_machine(t.root()), with_host);
        const std::string text = nlohmann::json(f).dump();
        EXPECT_EQ(text.find("SERIAL"), std::string::npos) << text;
        EXPECT_EQ(text.find("0b1c2d3e"), std::string::npos) << text;
        for (const char* name : {"ASUS", "ROG CROSSHAIR", "American Megatrends", "1904"}) {
            EXPECT_EQ(text.find(name) != std::string::npos, with_host) << name;
        }
        EXPECT_EQ(f.board.bios_version.unavailable,
                  with_host ? "" : "left out: host details not requested");
    }
}

// An empty tree: every fact is missing and says why.
TEST(MachineFacts, EmptyTreeSaysWhy) {
    recorded_tree t;
    const machine_answers m = read_sysfs_machine(t.root());
    EXPECT_EQ(m.microcode.unavailable, "could not read /proc/cpuinfo");
    EXPECT_EQ(m.caches.unavailable, "no processor in /sys/devices/system/cpu");
    EXPECT_EQ(m.packages.unavailable, "no processor in /sys/devices/system/cpu");
    EXPECT_EQ(m.max_mhz.unavailable, "no cpufreq cpuinfo_max_freq in sysfs");
    EXPECT_EQ(m.board.board_vendor.unavailable, "could not read /sys/class/dmi/id/board_vendor");
}

// CPUID's clocks win; the system's fill in where CPUID has none.
TEST(MachineFacts, ClocksFromCpuidThenTheSystem) {
    recorded_tree t;
    two_package_machine(t);
    const machine_answers m = read_sysfs_machine(t.root());
    const system_facts intel =
        assemble_system_facts(take_cpuid_snapshot(test::alder_lake()), m, true);
    EXPECT_EQ(intel.cpu.max_mhz.value, 4900U);
    EXPECT_EQ(intel.cpu.max_mhz.source, "cpuid leaf 0x16 ebx");
    const system_facts amd = assemble_system_facts(take_cpuid_snapshot(test::zen4()), m, true);
    EXPECT_EQ(amd.cpu.max_mhz.value, 5700U);
    EXPECT_FALSE(amd.cpu.base_mhz.value);
    EXPECT_EQ(amd.cpu.base_mhz.unavailable,
              "cpuid leaf 0x16 is not listed by leaf 0; no cpufreq base_frequency in sysfs");
}

TEST(MachineFacts, JsonShapeAndRoundTrip) {
    recorded_tree t;
    two_package_machine(t);
    const system_facts f = assemble_system_facts(take_cpuid_snapshot(test::zen5_bhyve_guest()),
                                                 read_sysfs_machine(t.root()), true);
    const nlohmann::json j = f;
    EXPECT_EQ(j["cpu"]["family"].dump(),
              R"x({"source":"cpuid leaf 1 eax (with the extended family)","value":26})x");
    EXPECT_EQ(j["cpu"]["hypervisor"]["value"], "bhyve bhyve ");
    EXPECT_EQ(j["cpu"]["base_mhz"]["value"], nullptr);
    EXPECT_EQ(j["topology"]["caches"]["value"][3].dump(),
              R"({"instances":2,"level":3,"size_bytes":33554432,"type":"unified"})");
    EXPECT_EQ(j["timer_rule_view"].dump(),
              R"({"brand":"Oxide Virtual Turin-like Processor             ","family":15,)"
              R"("model":2,"vendor":"other"})");
    const system_facts back = j.get<system_facts>();
    EXPECT_EQ(nlohmann::json(back), j);
    EXPECT_EQ(back.caches, f.caches);
    EXPECT_EQ(back.board, f.board);
    EXPECT_EQ(back.timer_rule, f.timer_rule);
}

TEST(MachineFacts, RegistryUpdateRevision) {
    const struct {
        std::vector<unsigned char> bytes;
        std::string text;
    } rows[] = {
        {{0, 0, 0, 0, 0x2B, 0x01, 0, 0}, "0x12b"},           // Intel: the high half
        {{0x23, 0x40, 0x40, 0x0B, 0, 0, 0, 0}, "0xb404023"}, // AMD: the low half
        {{0x23, 0x40, 0x40, 0x0B}, ""},                      // not 8 bytes
    };
    for (const auto& r : rows) {
        EXPECT_EQ(microcode_from_update_revision(r.bytes.data(), r.bytes.size()), r.text);
    }
}

// This machine, through the real backend: on Linux against /proc/cpuinfo read here, on Windows
// (Wine included) every fact names its source or why it is missing.
TEST(MachineFacts, ThisMachine) {
    const system_facts f = collect_system_facts();
    const nlohmann::json j = f;
    for (const auto& group : {j["cpu"], j["topology"], j["board"]}) {
        for (const auto& [name, fact] : group.items()) {
            EXPECT_TRUE(fact["value"].is_null() ? !fact["unavailable"].get<std::string>().empty()
                                                : !fact["source"].get<std::string>().empty())
                << name;
        }
    }
#ifndef _WIN32
    std::ifstream in("/proc/cpuinfo");
    if (!in) {
        GTEST_SKIP() << "no /proc/cpuinfo";
    }
    std::string vendor, family, model, stepping, microcode;
    for (std::string line; std::getline(in, line) && !line.empty();) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, line.find_first_of("\t:"));
        const std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
        if (key == "vendor_id")
            vendor = value;
        if (key == "cpu family")
            family = value;
        if (key == "model")
            model = value;
        if (key == "stepping")
            stepping = value;
        if (key == "microcode")
            microcode = value;
    }
    EXPECT_EQ(f.cpu.vendor.value, vendor);
    EXPECT_EQ(std::to_string(f.cpu.family.value.value_or(0)), family);
    EXPECT_EQ(std::to_string(f.cpu.model.value.value_or(0)), model);
    EXPECT_EQ(std::to_string(f.cpu.stepping.value.value_or(0)), stepping);
    EXPECT_EQ(f.microcode.value.value_or(""), microcode);
    ASSERT_TRUE(f.caches.value);
    EXPECT_GE(f.packages.value.value_or(0), 1U);
#else
    // Caches may be missing: Wine lists them from the host's sysfs, which a VM may lack.
    EXPECT_GE(f.packages.value.value_or(0), 1U) << f.packages.unavailable;
#endif
}

} // namespace
} // namespace kestrix::results
