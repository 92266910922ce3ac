// The log grammar over real console captures of kestrix (data/*.log: Linux release build and
// the Windows build under Wine), and the line splitting of console text.
#include "log_parser.hpp"
#include "record.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kestrix::results::console_lines;
using kestrix::results::parse_log;
using kestrix::results::read_whole_file;
using nlohmann::json;

namespace {

std::string capture(const std::string& name) {
    return read_whole_file(kestrix::results::test::data_file(name));
}

struct capture_case {
    const char* file;
    bool complete;
    const char* mode;
    const char* variable; // "" when not a benchmark
    std::vector<std::string> points;
    int sub_runs;
    int valid;
    const char* reason; // part of the first invalid sub-run's reason, "" when all are valid
};

const capture_case captures[] = {
    {"plain_standing_wave.log", true, "benchmark", "none", {"none"}, 1, 1, ""},
    {"plain_soft_gaussian.log", true, "benchmark", "none", {"none"}, 1, 1, ""},
    {"sweep_size.log", true, "benchmark", "size", {"64", "128"}, 4, 4, ""},
    {"sweep_duration.log", true, "benchmark", "duration", {"1", "2"}, 2, 2, ""},
    {"sweep_threads.log", true, "benchmark", "threads", {"1", "2"}, 4, 4, ""},
    {"sweep_isa.log", true, "benchmark", "isa", {"sse2", "avx2", "fma"}, 6, 6, ""},
    {"windows_plain.log", true, "benchmark", "none", {"none"}, 2, 2, ""},
    {"isa_lacking.log", true, "benchmark", "none", {"none"}, 1, 1, ""},
    {"isa_cannot_execute.log", true, "benchmark", "none", {"none"}, 1, 1, ""},
    {"isa_strict.log",
     true,
     "benchmark",
     "none",
     {"none"},
     1,
     0,
     "isa support check failed; aborting"},
    {"large_pages.log",
     true,
     "benchmark",
     "none",
     {"none"},
     1,
     0,
     "field allocation failed in thread 0"},
    {"memory_short.log",
     true,
     "benchmark",
     "none",
     {"none"},
     1,
     0,
     "field allocation failed in thread 1"},
    {"harness_opt_bad.log", true, "error", "", {}, 0, 0, ""},
    {"parse_error.log", true, "error", "", {}, 0, 0, ""},
    {"bad_size.log", true, "error", "", {}, 0, 0, ""},
    {"topo_debug.log", true, "topology", "", {}, 0, 0, ""},
    {"timer_debug.log", true, "timers", "", {}, 0, 0, ""},
    {"help.log", true, "help", "", {}, 0, 0, ""},
    {"truncated.log", false, "benchmark", "", {"none"}, 1, 0, ""},
};

TEST(ResultsParser, ReadsEveryCapture) {
    for (const auto& c : captures) {
        SCOPED_TRACE(c.file);
        const auto log = parse_log(capture(c.file));
        ASSERT_TRUE(log.recognized) << log.problem;
        EXPECT_EQ(log.complete, c.complete) << log.problem;
        const json& d = log.data;
        EXPECT_EQ(d["mode"], c.mode);
        if (std::string(c.mode) != "benchmark") {
            EXPECT_FALSE(d.contains("sub_runs"));
            continue;
        }
        if (*c.variable) {
            EXPECT_EQ(d["harness"]["variable"], c.variable);
            EXPECT_EQ(d["harness"]["table"].size(), c.points.size());
        }
        EXPECT_EQ(d["harness"]["points"], json(c.points));
        ASSERT_EQ(d["sub_runs"].size(), static_cast<std::size_t>(c.sub_runs));
        EXPECT_EQ(kestrix::results::count_scored(d), c.valid);
        for (const auto& s : d["sub_runs"]) {
            if (s["valid"].get<bool>()) {
                // A valid sub-run has everything the grammar knows.
                EXPECT_GT(s["score"].get<double>(), 0);
                EXPECT_FALSE(s["thread_table"].empty());
                EXPECT_EQ(s["thread_table"].size(), s["threads"].get<std::size_t>());
                EXPECT_FALSE(s["timers"]["fast"]["source"].get<std::string>().empty());
                EXPECT_TRUE(s["timers"].contains("coarse"));
                EXPECT_EQ(s["grid"].get<int>() > 0, true);
                EXPECT_EQ(s["duration"].get<int>() > 0, true);
                EXPECT_EQ(s["features"][0], "MMX");
                EXPECT_TRUE(s["messages"].empty()) << s["messages"].dump();
            } else if (*c.reason) {
                EXPECT_NE(s["reason"].get<std::string>().find(c.reason), std::string::npos)
                    << s.dump();
            }
        }
        // kestrix's own table agrees with the sub-runs' final scores.
        if (c.complete) {
            std::size_t k = 0;
            for (const auto& row : d["harness"]["table"]) {
                for (const auto& score : row["scores"]) {
                    const auto& s = d["sub_runs"][k++];
                    EXPECT_EQ(score.is_null(), !s["valid"].get<bool>());
                    if (!score.is_null()) {
                        EXPECT_NEAR(score.get<double>(), s["score"].get<double>(), 0.006);
                    }
                }
            }
        }
    }
}

TEST(ResultsParser, SweepPointsAndDetails) {
    struct row {
        const char* file;
        std::size_t sub_run;
        const char* key;
        json value;
    };
    const row rows[] = {
        {"sweep_size.log", 2, "grid", 128},
        {"sweep_size.log", 2, "point", "128"},
        {"sweep_duration.log", 1, "duration", 2},
        {"sweep_threads.log", 3, "threads", 2},
        {"sweep_threads.log", 3, "point", "2"},
        {"sweep_isa.log", 5, "isa", "fma"},
        {"sweep_isa.log", 5, "workload", "soft_gaussian"},
        {"plain_standing_wave.log", 0, "memory_per_thread", "17.55 MiB"},
        {"plain_standing_wave.log", 0, "threading", "os"},
        {"plain_standing_wave.log", 0, "large_pages", false},
        {"large_pages.log", 0, "large_pages", true},
        {"memory_short.log", 0, "memory_total", "32.09 TiB"},
        {"windows_plain.log", 0, "threads", 2},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.file) + " " + r.key);
        const auto log = parse_log(capture(r.file));
        EXPECT_EQ(log.data["sub_runs"][r.sub_run][r.key], r.value);
    }
    const auto lacking = parse_log(capture("isa_lacking.log")).data["sub_runs"][0];
    EXPECT_EQ(lacking["warnings"], json({"apx support not detected"}));
    const auto win = parse_log(capture("windows_plain.log")).data["sub_runs"][0];
    EXPECT_EQ(win["timers"]["fast"]["frequency"], "10.00 MHz");
    EXPECT_EQ(win["timers"]["coarse"]["frequency"], "1.00 KHz");
}

TEST(ResultsParser, Diagnostics) {
    const auto topo = parse_log(capture("topo_debug.log")).data["topology"];
    EXPECT_EQ(topo["performance_levels"], 1);
    EXPECT_EQ(topo["numa_nodes"], 1);
    EXPECT_EQ(topo["cores"], 2);
    EXPECT_EQ(topo["logical_processors"], 2);
    const auto timers = parse_log(capture("timer_debug.log")).data["timers"];
    EXPECT_EQ(timers["fast"]["source"], "iTSC");
    EXPECT_EQ(timers["coarse"]["underlying_frequency"], "250 Hz");
    EXPECT_EQ(timers["hwbot_compliant"], true);
    EXPECT_EQ(timers["family"], 15);
    EXPECT_EQ(parse_log(capture("bad_size.log"))
                  .data["error"]
                  .get<std::string>()
                  .rfind("Invalid size '100'", 0),
              0u);
}

TEST(ResultsParser, RefusesWhatIsNotKestrixOutput) {
    struct row {
        std::string text;
        bool recognized;
        bool complete;
        const char* problem;
    };
    const std::string plain = capture("plain_standing_wave.log");
    const row rows[] = {
        {"hello world\n", false, false, "not kestrix output"},
        {"", false, false, "not kestrix output"},
        {std::string("!!HARNESS!! run values:\0\n", 26), false, false, "binary data"},
        {"\n\n#!/bin/sh\n", false, false, "not kestrix output"},
        {plain.substr(0, plain.find("=====none results")), true, false, "truncated"},
        {plain.substr(0, plain.find(" none     |   ")), true, false, "0 of 1 rows"},
        {plain.substr(0, 60), true, false, "truncated"},
        {"Fast timer: iTSC\nunderlying frequency: 1.00 GHz\n", true, false, "truncated"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text.substr(0, 40));
        const auto log = parse_log(r.text);
        EXPECT_EQ(log.recognized, r.recognized);
        EXPECT_EQ(log.complete, r.complete);
        EXPECT_NE(log.problem.find(r.problem), std::string::npos) << log.problem;
    }
}

TEST(ResultsParser, ConsoleLines) {
    struct row {
        std::string text;
        std::vector<std::string> lines;
    };
    const row rows[] = {
        {"a\nb\n", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"\rx 1\rx 2\rx 3\n", {"x 3"}},
        {"\rx 1\rx 2\r\n", {"x 2"}},
        {"a\n\nb", {"a", "", "b"}},
        {"start\n\rp 0\rp 1\nnext\n", {"start", "p 1", "next"}},
        {"", {}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(console_lines(r.text), r.lines) << r.text;
    }
}

} // namespace
