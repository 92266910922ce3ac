// The real kestrix-stress: both modes for a few seconds, the record, bad input, interrupts.
#include "support/run_binary.hpp"

#include "cli/any_records.hpp"

#include "platform/cpu.hpp"
#include "solver/solver.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h> // getpid, also on MinGW
#ifndef _WIN32
#include <csignal>
#endif

namespace kestrix::stress {
namespace {

using kestrix::test::run_kestrix;

std::string temp_path(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("kx_stress_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

nlohmann::json read_json(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

TEST(StressE2e, BadInputGetsALineAndExitCodeTwo) {
    struct bad_case {
        std::vector<std::string> args;
        const char* says;
    };
    std::vector<bad_case> cases = {
        {{"--mode", "sometimes"}, "invalid mode 'sometimes'"},
        {{"--cores", "4000-4001"}, "--cores names no processor this process may run on"},
        {{"--cores", "1-"}, "invalid processor list"},
        {{"--size", "65"}, "invalid size '65'"},
        {{"--for", "later"}, "invalid duration 'later'"},
        {{"--isa", "sse9"}, "invalid isa name 'sse9'"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--for", "2s", "--out", temp_path("missing") + "/dir/record.json"}, "cannot write"},
    };
    // A variant this processor lacks: refused before anything runs.
    for (std::size_t i = isa_count; i-- > 0;) {
        const auto isa = static_cast<isa_kind>(i);
        if (check_isa_support(isa)) {
            cases.push_back({{"--isa", std::string(isa_names[i])}, "cannot run here"});
            break;
        }
    }
    for (const bad_case& c : cases) {
        const auto r = run_kestrix(c.args);
        EXPECT_EQ(r.exit_code, 2) << c.args.front() << "\n" << r.err;
        EXPECT_FALSE(r.signaled);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args.front() << "\n" << r.err;
    }
}

TEST(StressE2e, BothModesRunCleanAndLeaveTheirRecord) {
    for (const char* mode : {"all", "cycle"}) {
        const std::string record = temp_path(std::string(mode) + ".json");
        const auto r = run_kestrix({"--mode", mode, "--for", "3s", "--slice", "1s", "--isa", "sse2",
                                    "--cores", "0-1", "--out", record});
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("checkpoint every "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("  cpu  variants"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("passed: no error in "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("corrected memory errors (EDAC): "), std::string::npos) << r.out;
        const nlohmann::json j = read_json(record);
        EXPECT_EQ(j["schema_version"], 2);
        EXPECT_EQ(j["mode"], "stress");
        EXPECT_EQ(j["settings"]["stress_mode"], mode);
        EXPECT_EQ(j["state"], "finished");
        EXPECT_EQ(j["exit_code"], 0);
        EXPECT_FALSE(j["ended_utc"].is_null());
        ASSERT_FALSE(j["cores"].empty());
        std::uint64_t checkpoints = 0;
        for (const auto& c : j["cores"]) {
            EXPECT_EQ(c["errors"], 0);
            EXPECT_EQ(c["variants"], nlohmann::json::array({"sse2"}));
            checkpoints += c["checkpoints"].get<std::uint64_t>();
        }
        EXPECT_GT(checkpoints, 0u);
        EXPECT_EQ(j["checkpoints"], checkpoints);
        // kestrix-results reads it back whole and shows its verdict.
        const auto loaded = results::load_any_records({record});
        ASSERT_TRUE(loaded[0].rec.stress);
        EXPECT_EQ(nlohmann::json(*loaded[0].rec.stress), j);
        const std::string shown = results::show_any_text(loaded, results::table_format::md);
        EXPECT_NE(shown.find("\npassed: no error in " + std::to_string(checkpoints) +
                             " checkpoints (finished)\n"),
                  std::string::npos)
            << shown;
        std::filesystem::remove(record);
    }
}

#ifndef _WIN32
// Waits until the run has started (its header is out), then signals it.
kestrix::test::process_result interrupt_run(const std::vector<std::string>& args, int sig) {
    kestrix::test::started_kestrix run(args);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (run.out_so_far().find("slices of") == std::string::npos && run.running() &&
           std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(run.pid(), sig);
    return run.finish();
}

TEST(StressE2e, InterruptsEndTheRunWithItsTableAndRecord) {
    struct interrupt_case {
        const char* duration;
        int sig;
        int exit_code;
    };
    for (const interrupt_case& c :
         {interrupt_case{"10m", SIGINT, 130}, interrupt_case{"10m", SIGTERM, 143},
          interrupt_case{"0", SIGINT, 0}}) {
        const std::string record = temp_path("interrupted.json");
        const auto r = interrupt_run(
            {"--for", c.duration, "--isa", "sse2", "--cores", "0", "--out", record}, c.sig);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.duration << " " << c.sig << "\n" << r.out << r.err;
        EXPECT_FALSE(r.signaled);
        EXPECT_NE(r.out.find("interrupted"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("  cpu  variants"), std::string::npos) << r.out;
        const nlohmann::json j = read_json(record);
        EXPECT_EQ(j["state"], "interrupted");
        EXPECT_EQ(j["exit_code"], c.exit_code);
        std::filesystem::remove(record);
    }
}
#endif

} // namespace
} // namespace kestrix::stress
