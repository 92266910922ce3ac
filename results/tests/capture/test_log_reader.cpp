// The log reader over real console captures of kestrix (data/*.log: Linux release build and
// the Windows build under Wine), lines far longer than kestrix writes, and the console's
// events and lines.
#include "capture/log_reader.hpp"
#include "model/storage.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kestrix::results::console_lines;
using kestrix::results::read_whole_file;
using nlohmann::json;

namespace {

std::string capture(const std::string& name) {
    return read_whole_file(kestrix::results::test::data_file(name));
}

// The run log as JSON, in the record's shape, so that cases read as tables of fields.
struct parsed {
    bool recognized, complete;
    std::string problem;
    json data;
};

parsed parse_log(std::string_view text) {
    const auto log = kestrix::results::read_log(text);
    json d = {{"mode", kestrix::results::mode_name(log.mode)},
              {"harness", log.harness ? json(*log.harness) : json(nullptr)},
              {"sub_runs", log.sub_runs},
              {"messages", log.messages},
              {"topology", log.diag.topology ? json(*log.diag.topology) : json(nullptr)},
              {"timers", log.diag.timers ? json(*log.diag.timers) : json(nullptr)},
              {"error", log.diag.error ? json(*log.diag.error) : json(nullptr)}};
    return {log.recognized, log.complete, log.problem, d};
}

int count_scored(const json& d) {
    int n = 0;
    for (const auto& s : d["sub_runs"]) {
        n += s["valid"].get<bool>() ? 1 : 0;
    }
    return n;
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

TEST(LogReader, ReadsEveryCapture) {
    for (const auto& c : captures) {
        SCOPED_TRACE(c.file);
        const auto log = parse_log(capture(c.file));
        ASSERT_TRUE(log.recognized) << log.problem;
        EXPECT_EQ(log.complete, c.complete) << log.problem;
        const json& d = log.data;
        EXPECT_EQ(d["mode"], c.mode);
        if (std::string(c.mode) != "benchmark") {
            EXPECT_TRUE(d["sub_runs"].empty());
            continue;
        }
        if (*c.variable) {
            EXPECT_EQ(d["harness"]["variable"], c.variable);
            EXPECT_EQ(d["harness"]["table"].size(), c.points.size());
        }
        EXPECT_EQ(d["harness"]["points"], json(c.points));
        ASSERT_EQ(d["sub_runs"].size(), static_cast<std::size_t>(c.sub_runs));
        EXPECT_EQ(count_scored(d), c.valid);
        for (const auto& s : d["sub_runs"]) {
            if (s["valid"].get<bool>()) {
                // A valid sub-run has everything the grammar knows.
                EXPECT_GT(s["score"].get<double>(), 0);
                EXPECT_FALSE(s["thread_table"].empty());
                EXPECT_EQ(s["thread_table"].size(), s["threads"].get<std::size_t>());
                EXPECT_FALSE(s["timers"]["fast"]["source"].get<std::string>().empty());
                EXPECT_FALSE(s["timers"]["coarse"].is_null());
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

TEST(LogReader, SweepPointsAndDetails) {
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

TEST(LogReader, Diagnostics) {
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

TEST(LogReader, RefusesWhatIsNotKestrixOutput) {
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

TEST(LogReader, ConsoleLines) {
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

// Lines far longer than kestrix writes are read in one pass: a score of 500 kB, a results
// row of 400,000 cells, 2 MB of other text. (The regex grammar before this overflowed the
// stack on the first two.)
TEST(LogReader, LongLinesAreReadNotRecursedInto) {
    const std::string plain = capture("plain_standing_wave.log");
    const std::string score_line = "final score: " + std::string(500000, '7') + " MGups";
    const auto at = plain.find("final score: ");
    const std::string long_score =
        plain.substr(0, at) + score_line + plain.substr(plain.find('\n', at));
    const auto a = parse_log(long_score);
    ASSERT_TRUE(a.recognized);
    // A number of 500,000 digits is no score kestrix could print: out of range, not a crash.
    EXPECT_EQ(count_scored(a.data), 0);

    std::string row = " none     |";
    for (int i = 0; i < 400000; ++i) {
        row += "   474.53";
    }
    row += " |   474.53 |    0.00%";
    const auto rule = plain.find("\n=", plain.find("=====none results"));
    const auto row_at = plain.find('\n', rule + 1) + 1;
    const std::string wide = plain.substr(0, row_at) + row + "\n";
    const auto b = parse_log(wide);
    ASSERT_TRUE(b.complete) << b.problem;
    ASSERT_EQ(b.data["harness"]["table"][0]["scores"].size(), 400000u);
    EXPECT_DOUBLE_EQ(b.data["harness"]["table"][0]["scores"][399999].get<double>(), 474.53);

    const auto c = parse_log(plain.substr(0, row_at) + std::string(2000000, 'x') + "\n" +
                             plain.substr(row_at));
    EXPECT_TRUE(c.complete) << c.problem;
}

// Each kind of line is known by its fixed text at its fixed place, and a line that only looks
// like one is an ordinary message.
TEST(LogReader, LinesAtTheEdgesOfTheirKind) {
    struct row {
        const char* line; // inside a sub-run, after brand and features
        const char* key;  // the sub-run field it sets, or "messages"
        json value;
    };
    const row rows[] = {
        {"running with 12 threads (os)", "threads", 12},
        {"running with 1 thread (compact)", "threading", "compact"},
        {"running with x threads (os)", "messages", json::array({"running with x threads (os)"})},
        {"64 x 64 x 64 grid", "grid", 64},
        {"64 x 64 grid", "messages", json::array({"64 x 64 grid"})},
        {"initialization took -3ms", "initialization_ms", -3},
        {"initialization took ms", "messages", json::array({"initialization took ms"})},
        {"benchmarking... 3/30s            474.5 MGups  1000 iterations", "duration", 30},
        {"benchmarking... 3/30s MGups  1000 iterations", "messages",
         json::array({"benchmarking... 3/30s MGups  1000 iterations"})},
        {"Fast Timer Frequency: 1.00 GHz (iTSC (invariant))",
         "timers",
         {{"fast", {{"frequency", "1.00 GHz (iTSC"}, {"source", "invariant)"}}},
          {"coarse", nullptr}}},
        {"allocating fields.... (large pages)", "large_pages", true},
        {"allocating fields.... (huge)", "messages", json::array({"allocating fields.... (huge)"})},
        {"final score: 12.5 MGups", "score", nullptr}, // not after a valid banner
        {"kestrix v1 a", "workload", nullptr},
    };
    const std::string head = "!!HARNESS!! run values:\nnone\n!!HARNESS!! estimated total "
                             "time = 1s\n\n!!HARNESS!! run 1/1\n\nbrand\nSSE2\n";
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        const auto log = parse_log(head + r.line + "\n");
        ASSERT_EQ(log.data["sub_runs"].size(), 1u);
        EXPECT_EQ(log.data["sub_runs"][0][r.key], r.value);
    }
}

TEST(LogReader, EventsKeepEveryRewriteWithItsTime) {
    using kestrix::results::event_recorder;
    // Pieces cut anywhere, a "\r\n" across two of them included.
    event_recorder rec;
    rec.feed("start\n\rp 0", 10);
    rec.feed("\rp 1\r", 20);
    rec.feed("\nnext\r", 30);
    rec.feed("\ntail", 40);
    const auto events = rec.finish();
    struct expect {
        std::int64_t at;
        const char* text;
        bool rewrite;
    };
    const expect want[] = {{10, "start", false}, {10, "", true},      {10, "p 0", true},
                           {20, "p 1", false},   {30, "next", false}, {40, "tail", true}};
    ASSERT_EQ(events.size(), std::size(want));
    for (std::size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].at_ns, want[i].at);
        EXPECT_EQ(events[i].text, want[i].text);
        EXPECT_EQ(events[i].rewrite, want[i].rewrite);
    }
    EXPECT_EQ(console_lines(events), (std::vector<std::string>{"start", "p 1", "next", "tail"}));
    // A whole capture read from its events reads as from its text.
    const std::string plain = capture("sweep_threads.log");
    event_recorder whole;
    for (std::size_t i = 0; i < plain.size(); i += 997) {
        whole.feed(std::string_view(plain).substr(i, 997), static_cast<std::int64_t>(i));
    }
    const auto from_events = kestrix::results::read_log(whole.finish());
    EXPECT_EQ(json(from_events.sub_runs), parse_log(plain).data["sub_runs"]);
}

} // namespace
