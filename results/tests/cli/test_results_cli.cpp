// kestrix-results as a user runs it: `run` on the real kestrix (short runs), `import` of real
// captures, version 1 records, and bad input.
#include "model/storage.hpp"
#include "support/run_binary.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <csignal>
#endif

namespace fs = std::filesystem;
using kestrix::results::read_whole_file;
using kestrix::results::test::data_file;
using kestrix::results::test::fresh_dir;
using kestrix::results::test::host_path;
using nlohmann::json;

namespace {

// kx_results_test_support runs kestrix-results through the shared helper.
// Standard output and error as text, line ends as on Linux.
kestrix::test::process_result results(const std::vector<std::string>& args) {
    auto r = kestrix::test::run_kestrix(args, {});
    for (std::string* s : {&r.out, &r.err}) {
        for (auto at = s->find("\r\n"); at != std::string::npos; at = s->find("\r\n", at)) {
            s->erase(at, 1);
        }
    }
    return r;
}

std::string kestrix_binary() {
    return host_path(KX_KESTRIX_BINARY);
}

std::vector<fs::path> files_in(const fs::path& d) {
    std::vector<fs::path> out;
    if (fs::is_directory(d)) {
        for (const auto& e : fs::directory_iterator(d)) {
            out.push_back(e.path());
        }
    }
    return out;
}

json only_record(const fs::path& dir) {
    const auto files = files_in(dir);
    EXPECT_EQ(files.size(), 1u);
    if (files.empty()) {
        return nullptr;
    }
    EXPECT_EQ(files[0].extension(), ".json") << files[0];
    // The shape is checked against the schema by the schema test; here, what it says.
    return json::parse(read_whole_file(files[0].string()));
}

TEST(ResultsCli, RunRecordsAValidRun) {
    const fs::path dir = fresh_dir("run");
    const auto r = results({"run", "--out", dir.string(), "--label", "e2e", "--no-host", "--", "-d",
                            "1", "-s", "64", "-n", "1", "--harness-sub-runs", "1"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // Passed through as it came, the progress line included.
    EXPECT_NE(r.out.find("\rbenchmarking... "), std::string::npos);
    EXPECT_NE(r.out.find("final score: "), std::string::npos);
    EXPECT_NE(r.out.find("press enter to exit"), std::string::npos);
    EXPECT_NE(r.err.find("kestrix-results: record written to "), std::string::npos);
    const json rec = only_record(dir);
    ASSERT_TRUE(rec.is_object());
    EXPECT_EQ(rec["source"], "run");
    EXPECT_EQ(rec["label"], "e2e");
    EXPECT_EQ(rec["complete"], true);
    EXPECT_EQ(rec["valid_sub_runs"], 1);
    EXPECT_EQ(rec["kestrix"]["version"], "1.4.0");
    EXPECT_EQ(rec["options"]["given"],
              json({"-d", "1", "-s", "64", "-n", "1", "--harness-sub-runs", "1"}));
    EXPECT_EQ(rec["options"]["resolved"]["size"], 64);
    EXPECT_EQ(rec["options"]["resolved"]["workload"], "standing_wave");
    // As decided from the command line, and as the run's header showed it.
    EXPECT_EQ(rec["options"]["decided"]["threads"], 1);
    EXPECT_EQ(rec["options"]["shown"]["threads"], 1);
    EXPECT_EQ(rec["options"]["shown"]["size"], 64);
    EXPECT_TRUE(rec["system"]["timer_rule"]["vendor"].is_string());
    EXPECT_EQ(rec["system"]["host"], nullptr);
    EXPECT_EQ(rec["system"]["source"], "this machine");
    EXPECT_FALSE(rec["system"]["processor"]["brand"].get<std::string>().empty());
    EXPECT_GE(rec["system"]["topology"]["logical_processors"].get<int>(), 1);
    EXPECT_GT(rec["system"]["memory"]["total_bytes"].get<double>(), 0);
    EXPECT_EQ(rec["system"]["start_utc"].get<std::string>().size(), 20u);
    EXPECT_GT(rec["sub_runs"][0]["score"].get<double>(), 0);
}

TEST(ResultsCli, RunWithoutScoreExitsOneWithTheReason) {
    struct row {
        std::vector<std::string> kestrix_args;
        const char* mode;
        const char* reason;
    };
    const row rows[] = {
        {{"-d", "1", "-s", "64", "-n", "1", "--harness-sub-runs", "1", "--isa", "avx10-2-512",
          "--strict-isa-check"},
         "benchmark",
         "isa support check failed; aborting"},
        {{"--bogus"}, "error", "Unrecognized token: --bogus"},
    };
    for (const auto& rw : rows) {
        SCOPED_TRACE(rw.reason);
        const fs::path dir = fresh_dir("noscore");
        std::vector<std::string> args = {"run",       "--out",          dir.string(),
                                         "--kestrix", kestrix_binary(), "--"};
        args.insert(args.end(), rw.kestrix_args.begin(), rw.kestrix_args.end());
        const auto r = results(args);
        const json rec = only_record(dir);
        ASSERT_TRUE(rec.is_object());
        if (rw.mode == std::string("benchmark") && rec["valid_sub_runs"] == 1) {
            continue; // this processor has AVX10.2
        }
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_EQ(rec["mode"], rw.mode);
        const std::string reason = rec["mode"] == "error"
                                       ? rec["error"].get<std::string>()
                                       : rec["sub_runs"][0]["reason"].get<std::string>();
        EXPECT_EQ(reason, rw.reason);
    }
}

TEST(ResultsCli, ImportsEveryCapture) {
    struct row {
        const char* log;
        int exit_code;
        const char* mode;
    };
    const row rows[] = {
        {"plain_standing_wave.log", 0, "benchmark"},
        {"sweep_threads.log", 0, "benchmark"},
        {"windows_plain.log", 0, "benchmark"},
        {"large_pages.log", 1, "benchmark"},
        {"topo_debug.log", 0, "topology"},
        {"timer_debug.log", 0, "timers"},
        {"parse_error.log", 1, "error"},
    };
    for (const auto& rw : rows) {
        SCOPED_TRACE(rw.log);
        const fs::path dir = fresh_dir("import");
        const auto r = results({"import", "--out", dir.string(), data_file(rw.log)});
        EXPECT_EQ(r.exit_code, rw.exit_code) << r.err;
        const json rec = only_record(dir);
        ASSERT_TRUE(rec.is_object());
        EXPECT_EQ(rec["source"], "import");
        EXPECT_EQ(rec["mode"], rw.mode);
        EXPECT_EQ(rec["system"]["source"], "log");
        EXPECT_EQ(rec["system"]["os"]["name"], nullptr); // the log does not show it
        EXPECT_NE(rec["system"]["note"].get<std::string>().find("only"), std::string::npos);
    }
}

TEST(ResultsCli, BadInputIsOneLineAndExitTwoAndWritesNothing) {
    const fs::path dir = fresh_dir("bad");
    const fs::path out = dir / "out";
    const fs::path other_version = dir / "v3.json", not_json = dir / "broken.json",
                   text = dir / "text.txt", thin = dir / "thin.json", deep = dir / "deep.json";
    std::ofstream(other_version) << R"({"schema_version": 3, "source": "run"})";
    std::ofstream(thin) << R"({"schema_version": 2, "source": "run"})";
    std::ofstream(deep) << R"({"schema_version": 2, "label": )" << std::string(100000, '[')
                        << std::string(100000, ']') << "}";
    std::ofstream(not_json) << R"({"schema_version": 1, "sou)";
    std::ofstream(text) << "just some text\nnot from kestrix\n";
    const fs::path empty = dir / "empty";
    fs::create_directories(empty);
    const fs::path stress_bad = dir / "stress_bad.json";
    {
        json j = json::parse(read_whole_file(data_file("stress/stopped_at_error.json")));
        j["cores"][2]["first_error"]["time_s"] = "soon";
        std::ofstream(stress_bad) << j.dump();
    }
    const std::string stress_good = data_file("stress/stopped_at_error.json");
    const std::string o = out.string();
    struct row {
        std::vector<std::string> args;
        const char* message;
    };
    const row rows[] = {
        {{"import", "--out", o, text.string()}, "not kestrix output"},
        {{"import", "--out", o, data_file("truncated.log")}, "truncated log"},
        {{"import", "--out", o, data_file("plain_standing_wave.log"), data_file("truncated.log")},
         "truncated log"},
        {{"import", "--out", o, (dir / "absent.log").string()}, "cannot read"},
        {{"show", other_version.string()}, "schema version 3, this program reads versions 1 to 2"},
        {{"show", thin.string()}, "\"label\": missing"},
        {{"compare", deep.string()}, "nested deeper than 64 levels"},
        {{"compare", data_file("help.log")}, "not JSON"},
        {{"show", not_json.string()}, "not JSON"},
        {{"report", other_version.string(), "-o", (out / "r.html").string()}, "schema version 3"},
        {{"report", data_file("v1/help.json"), deep.string(), "-o", (out / "r.html").string()},
         "nested deeper"},
        {{"show", stress_bad.string()}, "\"cores[2].first_error.time_s\": not a number"},
        {{"report", stress_good, stress_bad.string(), "-o", (out / "r.html").string()},
         "\"cores[2].first_error.time_s\": not a number"},
        {{"compare", stress_good, stress_good},
         "a kestrix-stress record, not one of a kestrix run"},
        {{"show", "--format", "csv", stress_good, data_file("v1/help.json")}, "different columns"},
        {{"run", "--out", o, "--kestrix", (dir / "no-such-kestrix").string(), "--", "-d", "1"},
         "not found"},
        {{"run", "--out", o, "--kestrix", text.string(), "--", "-d", "1"},
#ifdef _WIN32
         "cannot start"
#else
         "not an executable"
#endif
        },
        {{"run", "--out", o, "-d", "1"}, "kestrix-results --help"},
        {{"frobnicate"}, "kestrix-results --help"},
        {{}, "kestrix-results --help"},
        {{"show", "--format", "xml", text.string()}, "kestrix-results --help"},
        {{"show", "--series", data_file("timeline_run.json")}, "add --format csv or --format json"},
        {{"run", "--out", o, "--score-interval", "0", "--", "-d", "1"}, "kestrix-results --help"},
        {{"report", text.string()}, "kestrix-results --help"},
        {{"fleet", (dir / "absent").string()}, "cannot read"},
        {{"fleet", empty.string()}, "no *.json records found"},
        {{"fleet", dir.string(), "--metric", "best"}, "kestrix-results --help"},
        {{"fleet", text.string(), not_json.string()}, "none of the 2 files is a readable record"},
        {{"suite", "--out", o, "--kestrix", (dir / "no-such-kestrix").string()}, "not found"},
    };
    for (const auto& rw : rows) {
        SCOPED_TRACE(rw.args.empty() ? std::string("(none)") : rw.args[0] + " " + rw.args.back());
        const auto r = results(rw.args);
        EXPECT_EQ(r.exit_code, 2) << r.err;
        // A run that gets as far as starting kestrix (Windows tries any file) first warns about
        // the machine's conditions; the refusal itself is one line.
        std::string refusal;
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("kestrix-results: warning: ", 0) != 0) {
                refusal += line + "\n";
            }
        }
        EXPECT_NE(refusal.find(rw.message), std::string::npos) << r.err;
        EXPECT_EQ(refusal.rfind("kestrix-results: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(refusal.begin(), refusal.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(files_in(out).empty());
    }
}

TEST(ResultsCli, ShowCompareAndReportReadWhatRunAndImportWrote) {
    const fs::path dir = fresh_dir("flow");
    ASSERT_EQ(
        results({"import", "--out", dir.string(), "--label", "sweep", data_file("sweep_isa.log")})
            .exit_code,
        0);
    const auto files = files_in(dir);
    ASSERT_EQ(files.size(), 1u);
    const auto md = results({"show", files[0].string()});
    EXPECT_EQ(md.exit_code, 0) << md.err;
    EXPECT_NE(md.out.find("| isa | run 1 | run 2 | median | mean | sd | cv | note |"),
              std::string::npos)
        << md.out;
    const auto cmp = results({"compare", "--format", "csv", files[0].string(), files[0].string()});
    EXPECT_EQ(cmp.exit_code, 0) << cmp.err;
    EXPECT_NE(cmp.out.find(",1.000,no\n"), std::string::npos) << cmp.out;
    const fs::path html = dir / "report.html";
    const auto rep = results({"report", files[0].string(), "-o", html.string()});
    EXPECT_EQ(rep.exit_code, 0) << rep.err;
    const std::string page = read_whole_file(html.string());
    EXPECT_NE(page.find("<svg"), std::string::npos);
    EXPECT_EQ(page.find("http"), std::string::npos);
    EXPECT_FALSE(fs::exists(html.string() + ".partial"));
    // Version 1 records of kestrix-results 1.2.0 read beside version 2 ones.
    const auto old = results({"compare", data_file("v1/sweep_isa.json"), files[0].string()});
    EXPECT_EQ(old.exit_code, 0) << old.err;
    EXPECT_NE(old.out.find("| isa | record | scores |"), std::string::npos) << old.out;
}

TEST(ResultsCli, StressRecordsShowTheirCoresAndDrawThem) {
    const fs::path dir = fresh_dir("stress");
    const std::string failed = data_file("stress/stopped_at_error.json"),
                      running = data_file("stress/running_keep_going.json");
    const auto md = results({"show", failed, running});
    EXPECT_EQ(md.exit_code, 0) << md.err;
    for (const char* line :
         {"| 2 | sse2 | 0:00:01 | 12 | 1 | 0:00:01 | hash mismatch | cpu 2: fields differ ",
          "FAILED: 1 error in 40 checkpoints (stopped at error)\n",
          "(still running when last written, 2026-12-10T07:02:05Z)\n"}) {
        EXPECT_NE(md.out.find(line), std::string::npos) << line << "\n" << md.out;
    }
    const fs::path html = dir / "report.html";
    const auto rep =
        results({"report", data_file("v1/sweep_isa.json"), failed, "-o", html.string()});
    EXPECT_EQ(rep.exit_code, 0) << rep.err;
    const std::string page = read_whole_file(html.string());
    EXPECT_NE(page.find("<h2>Stability test: stopped_at_error</h2>"), std::string::npos);
    EXPECT_NE(page.find("errors per core"), std::string::npos);
}

TEST(ResultsCli, ARecordNeverReplacesAnother) {
    const fs::path dir = fresh_dir("twice");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(results({"import", "--out", dir.string(), data_file("plain_soft_gaussian.log")})
                      .exit_code,
                  0);
    }
    EXPECT_EQ(files_in(dir).size(), 3u);
}

#ifndef _WIN32
// A signal during a run reaches kestrix; the record of the finished sub-runs is still written.
TEST(ResultsCli, InterruptedRunKeepsWhatFinished) {
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        const fs::path dir = fresh_dir("signal");
        kestrix::test::started_kestrix run({"run", "--no-host", "--out", dir.string(), "--", "-d",
                                            "2", "-s", "64", "-n", "1", "--harness-sub-runs", "3"});
        ASSERT_GT(run.pid(), 0);
        // The signal comes once the first sub-run has ended, however slow the machine is.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (run.running() && run.out_so_far().find("run 2/3") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_EQ(kill(run.pid(), sig), 0);
        const kestrix::test::process_result r = run.finish();
        EXPECT_FALSE(r.signaled) << r.exit_code;
        EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
        const json rec = only_record(dir);
        ASSERT_TRUE(rec.is_object());
        EXPECT_EQ(rec["complete"], false);
        EXPECT_EQ(rec["child"]["interrupted"], true);
        EXPECT_GE(rec["valid_sub_runs"].get<int>(), 1);
        EXPECT_LT(rec["valid_sub_runs"].get<int>(), 3);
    }
}

// The standard run on the real kestrix, shortened by a wrapper to 1 s sub-runs, then the fleet
// report over its record.
TEST(ResultsCli, StandardRunAndFleetReport) {
    ASSERT_EQ(setenv("KX_REAL_KESTRIX", kestrix_binary().c_str(), 1), 0);
    const fs::path dir = fresh_dir("suite");
    const auto r = results({"suite", "--out", dir.string(), "--kestrix",
                            data_file("short_kestrix.sh"), "--label", "node-a"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("widest variant this processor executes: "), std::string::npos) << r.err;
    const json rec = only_record(dir);
    ASSERT_TRUE(rec.is_object());
    EXPECT_EQ(rec["mode"], "suite");
    EXPECT_EQ(rec["complete"], true);
    ASSERT_EQ(rec["suite"]["parts"].size(), 4u);
    const std::string widest = rec["suite"]["widest"];
    for (const auto& [name, isa, threads] : {std::tuple{"single", widest, 1},
                                             {"all", widest, 0},
                                             {"single_baseline", "sse2", 1},
                                             {"all_baseline", "sse2", 0}}) {
        const auto& parts = rec["suite"]["parts"];
        const auto part = std::find_if(parts.begin(), parts.end(),
                                       [&](const json& p) { return p["name"] == name; });
        ASSERT_NE(part, parts.end()) << name;
        EXPECT_EQ((*part)["isa"], isa) << name;
        EXPECT_EQ((*part)["threads_option"], threads) << name;
        EXPECT_GT((*part)["median"].get<double>(), 0) << name;
    }
    EXPECT_EQ(rec["valid_sub_runs"], 4);

    const auto files = files_in(dir);
    const auto show = results({"show", files[0].string()});
    EXPECT_EQ(show.exit_code, 0) << show.err;
    EXPECT_NE(show.out.find("\n\nsingle thread "), std::string::npos) << show.out;

    const auto fleet = results({"fleet", dir.string()});
    EXPECT_EQ(fleet.exit_code, 0) << fleet.err;
    EXPECT_NE(fleet.out.find("hosts 1, groups 1, slow 0, failed 0."), std::string::npos)
        << fleet.out;
    // A node of the allocation that wrote nothing fails the report; other files in the folder
    // (batch output) are not read.
    std::ofstream(dir / "slurm-7.out") << "batch output\n";
    const auto missing = results({"fleet", "--expect", "node-b,node-c", dir.string()});
    EXPECT_EQ(missing.exit_code, 1) << missing.err;
    EXPECT_NE(missing.out.find("| node-c | wrote no record | --- |"), std::string::npos)
        << missing.out;
    EXPECT_EQ(missing.out.find("slurm-7"), std::string::npos) << missing.out;
}
#endif

} // namespace
