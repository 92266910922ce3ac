// The command line, the processor choice, the record and the error counters.
#include "stress/options.hpp"
#include "stress/program.hpp"
#include "stress/record.hpp"
#include "stress/system.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kestrix::stress {
namespace {

using namespace std::chrono_literals;

TEST(StressOptions, DurationsAndProcessorLists) {
    struct duration_case {
        const char* text;
        std::optional<std::chrono::milliseconds> want;
    };
    const duration_case durations[] = {
        {"0", 0ms},
        {"90", 90s},
        {"90s", 90s},
        {"10m", 10min},
        {"6h", 6h},
        {"1h30m", 90min},
        {"2d", 48h},
        {"", std::nullopt},
        {"m", std::nullopt},
        {"10x", std::nullopt},
        {"-5", std::nullopt},
        {"5m3", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"1000000000h", std::nullopt},
    };
    for (const auto& c : durations) {
        EXPECT_EQ(parse_duration(c.text), c.want) << c.text;
    }
    using list = std::vector<std::uint32_t>;
    struct list_case {
        const char* text;
        std::optional<list> want;
    };
    const list_case lists[] = {
        {"0", list{0}},
        {"0-3,12", list{0, 1, 2, 3, 12}},
        {"5,1-2,2", list{1, 2, 5}},
        {"", std::nullopt},
        {"3-1", std::nullopt},
        {"1,,2", std::nullopt},
        {"a", std::nullopt},
        {"0-4294967296", std::nullopt},
        {"0-100000", std::nullopt},
    };
    for (const auto& c : lists) {
        EXPECT_EQ(parse_cpu_list(c.text), c.want) << c.text;
    }
}

TEST(StressOptions, EveryOptionAndTheBadOnes) {
    const parsed_options good =
        parse_options({"--mode", "cycle", "--cores=0-1", "--smt", "--isa", "sse2,avx2,sse2",
                       "--slice", "30s", "--for", "0", "--keep-going", "--workload",
                       "standing_wave", "--size", "128", "--out", "r.json"});
    ASSERT_FALSE(good.error) << *good.error;
    const stress_options& o = good.options;
    EXPECT_EQ(o.mode, stress_mode::cycle);
    EXPECT_EQ(o.cores, (std::vector<std::uint32_t>{0, 1}));
    EXPECT_TRUE(o.smt);
    EXPECT_EQ(o.variants, (std::vector<isa_kind>{isa_kind::sse2, isa_kind::avx2}));
    EXPECT_EQ(o.slice, std::chrono::milliseconds(30s));
    EXPECT_EQ(o.duration, std::optional<std::chrono::milliseconds>(0ms));
    EXPECT_TRUE(o.keep_going);
    EXPECT_EQ(o.workload, workload_kind::standing_wave);
    EXPECT_EQ(o.size, 128u);
    EXPECT_EQ(o.out, "r.json");

    const parsed_options defaults = parse_options({});
    EXPECT_EQ(defaults.options.mode, stress_mode::all);
    EXPECT_FALSE(defaults.options.duration);
    EXPECT_FALSE(defaults.options.slice);
    EXPECT_EQ(defaults.options.size, 64u);
    EXPECT_EQ(defaults.options.workload, workload_kind::soft_gaussian);

    const std::vector<std::vector<std::string>> bad = {
        {"--mode", "some"},
        {"--mode"},
        {"--cores", "x"},
        {"--isa", "sse5"},
        {"--slice", "0"},
        {"--for", "soon"},
        {"--size", "65"},
        {"--workload", "wave"},
        {"--out", ""},
        {"--smt=yes"},
        {"--frobnicate"},
        {"stray"},
        {""},
    };
    for (const auto& args : bad) {
        const parsed_options p = parse_options(args);
        EXPECT_TRUE(p.error) << args.front();
    }
}

cpu_topology two_cores_smt() {
    // Two cores with two logical processors each: 0/2 and 1/3, as Linux numbers them.
    cpu_topology t;
    t.numa_nodes.push_back({});
    t.numa_nodes[0].llcs.push_back({});
    auto& cores = t.numa_nodes[0].llcs[0].cores;
    cores.push_back(core{.id = 0, .perf_level = 0, .logicals = {{0, 0, 0, 0}, {1, 0, 2, 0}}});
    cores.push_back(core{.id = 1, .perf_level = 0, .logicals = {{2, 1, 1, 0}, {3, 1, 3, 0}}});
    return t;
}

std::vector<std::uint32_t> numbers(const std::vector<logical>& v) {
    std::vector<std::uint32_t> out;
    for (const logical& l : v) {
        out.push_back(processor_number(l));
    }
    return out;
}

TEST(StressProcessors, OnePerCoreAllWithSmtOrThoseNamed) {
    using list = std::vector<std::uint32_t>;
    const cpu_topology t = two_cores_smt();
    EXPECT_EQ(numbers(choose_processors(t, std::nullopt, false).processors), (list{0, 1}));
    EXPECT_EQ(numbers(choose_processors(t, std::nullopt, true).processors), (list{0, 1, 2, 3}));
    const processor_choice named = choose_processors(t, list{1, 3, 7}, false);
    EXPECT_EQ(numbers(named.processors), (list{1, 3}));
    EXPECT_EQ(named.refused, list{7});
    EXPECT_TRUE(choose_processors(t, list{8}, false).processors.empty());
    // Processor 5 of group 1 is the system's processor 69.
    EXPECT_EQ(processor_number(logical{.idx = 0, .core_id = 0, .os = 5, .group = 1}), 69u);
}

TEST(StressRecord, SchemaVersionTwoWrittenWhole) {
    const auto dir = std::filesystem::temp_directory_path() / "kx_stress_record_test";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "run.json").string();
    stress_record r;
    r.version = "1.2.0";
    r.started_utc = "2026-12-10T04:00:00Z";
    r.updated_utc = "2026-12-10T04:01:00Z";
    r.state = "stopped at error";
    r.settings.mode = "all";
    r.settings.cpus = {0, 1};
    r.settings.variants = {"sse2"};
    core_report bad;
    bad.cpu = 1;
    bad.variants = {isa_kind::sse2};
    bad.seconds = 2.5;
    bad.checkpoints = 3;
    bad.errors = 1;
    bad.first_error = error_event{.time_s = 2.0,
                                  .kind = error_kind::hash_mismatch,
                                  .cpus = {1},
                                  .variant = isa_kind::sse2,
                                  .step = 8,
                                  .message = "cpu 1: x"};
    r.cores = to_record({core_report{}, bad});
    r.exit_code = 1;
    ASSERT_EQ(write_record(path, r), "");
    // Written twice: the second replaces the first.
    ASSERT_EQ(write_record(path, r), "");
    const nlohmann::json j = [&] {
        std::ifstream in(path);
        return nlohmann::json::parse(in);
    }();
    EXPECT_EQ(j["schema_version"], 2);
    EXPECT_EQ(j["mode"], "stress");
    EXPECT_EQ(j["program"], "kestrix-stress");
    EXPECT_EQ(j["settings"]["cpus"], nlohmann::json::array({0, 1}));
    EXPECT_EQ(j["cores"].size(), 2u);
    EXPECT_TRUE(j["cores"][0]["first_error"].is_null());
    EXPECT_EQ(j["cores"][1]["first_error"]["kind"], "hash mismatch");
    EXPECT_EQ(j["cores"][1]["first_error"]["step"], 8);
    EXPECT_EQ(j["cores"][1]["variants"], nlohmann::json::array({"sse2"}));
    EXPECT_EQ(j["exit_code"], 1);
    EXPECT_TRUE(j["ended_utc"].is_null());
    // Nothing but the record is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    // A record that cannot be written says so.
    EXPECT_NE(write_record((dir / "no" / "such" / "dir.json").string(), r), "");
    std::filesystem::remove_all(dir);
}

TEST(StressErrorCounters, EdacAndMachineChecksFromARecordedTree) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / "kx_stress_counters_test";
    fs::remove_all(root);
    EXPECT_FALSE(read_error_counters(root.string()).edac_corrected);
    EXPECT_FALSE(read_error_counters(root.string()).machine_checks);
    for (const char* mc : {"mc0", "mc1"}) {
        fs::create_directories(root / "sys/devices/system/edac/mc" / mc);
        std::ofstream(root / "sys/devices/system/edac/mc" / mc / "ce_count")
            << (mc[2] == '0' ? "3\n" : "4\n");
    }
    fs::create_directories(root / "sys/devices/system/edac/mc/power");
    fs::create_directories(root / "proc");
    std::ofstream(root / "proc/interrupts")
        << "           CPU0       CPU1\n"
           "  0:         22          0   IO-APIC   2-edge      timer\n"
           " MCE:          1          2   Machine check exceptions\n"
           " MCP:         10         10   Machine check polls\n";
    const error_counters c = read_error_counters(root.string());
    EXPECT_EQ(c.edac_corrected, 7u);
    EXPECT_EQ(c.machine_checks, 3u);
    fs::remove_all(root);
}

TEST(StressTable, OneRowPerCoreWithTheFirstError) {
    core_report ok;
    ok.cpu = 0;
    ok.variants = {isa_kind::sse2, isa_kind::avx2};
    ok.seconds = 61;
    ok.checkpoints = 1234;
    core_report bad = ok;
    bad.cpu = 12;
    bad.errors = 2;
    bad.first_error = error_event{.time_s = 75,
                                  .kind = error_kind::disagreement,
                                  .cpus = {0, 12},
                                  .variant = isa_kind::sse2,
                                  .step = 8,
                                  .message = "m"};
    const auto rows = core_table({ok, bad});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "  cpu  variants                    time  checkpoints  errors  first error");
    EXPECT_EQ(rows[1], "    0  sse2,avx2                0:01:01         1234       0  -");
    EXPECT_EQ(rows[2], "   12  sse2,avx2                0:01:01         1234       2  at 0:01:15, "
                       "disagreement: m");
}

TEST(StressTable, TheStatusLine) {
    stress_progress p;
    p.elapsed_s = 65;
    p.cpus = {0, 1, 2, 3, 8, 10, 11};
    p.variant = isa_kind::avx2;
    p.checkpoints = 42;
    p.errors = 1;
    EXPECT_EQ(status_text(p, stress_mode::all, 600),
              "0:01:05 elapsed, 0:08:55 left, all mode, cpu 0-3,8,10,11, avx2, 42 checkpoints "
              "passed, 1 error");
    p.errors = 0;
    EXPECT_EQ(status_text(p, stress_mode::cycle, 0),
              "0:01:05 elapsed, until interrupted, cycle mode, cpu 0-3,8,10,11, avx2, 42 "
              "checkpoints passed, 0 errors");
}

} // namespace
} // namespace kestrix::stress
