// kestrix-stress records in show (markdown, csv, json, beside run records) and in the page.
#include "cli/any_records.hpp"
#include "model/storage.hpp"
#include "output/exporters.hpp"
#include "output/stress.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace kestrix::results;
using nlohmann::json;

namespace {

loaded_record stress_file(const std::string& name) {
    const std::string path = test::data_file("stress/" + name);
    return {path, load_any_record(path)};
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST(StressOutput, MarkdownShowsTheCoresAndTheVerdict) {
    const std::string md = show_any_text({stress_file("stopped_at_error.json")}, table_format::md);
    EXPECT_EQ(md,
              "### stopped_at_error: kestrix-stress 1.3.0 on vm, all mode, cpu 0-2, sse2, avx2, "
              "soft_gaussian at N = 64, started 2026-12-10T07:50:10Z\n\n"
              "| cpu | variants | time under test | checkpoints | errors | first error at | "
              "kind | message |\n"
              "|---:|---|---:|---:|---:|---:|---|---|\n"
              "| 0 | sse2 | 0:00:01 | 14 | 0 | --- | --- | --- |\n"
              "| 1 | sse2 | 0:00:01 | 14 | 0 | --- | --- | --- |\n"
              "| 2 | sse2 | 0:00:01 | 12 | 1 | 0:00:01 | hash mismatch | cpu 2: fields differ "
              "from those of the majority of 3 cores at step 16 (soft_gaussian, sse2, N=64) |\n"
              "\ncorrected memory errors (EDAC): 0 during the run; machine-check exceptions: not "
              "available\n\nFAILED: 1 error in 40 checkpoints (stopped at error)\n");
}

TEST(StressOutput, VerdictSaysWhatTheRecordKnows) {
    stress_record r;
    r.checkpoints = 7;
    struct row {
        const char* state;
        std::size_t errors;
        const char* verdict;
    };
    const row rows[] = {
        {"finished", 0, "passed: no error in 7 checkpoints (finished)"},
        {"interrupted", 0, "passed: no error in 7 checkpoints (interrupted)"},
        {"stopped at error", 1, "FAILED: 1 error in 7 checkpoints (stopped at error)"},
        {"finished with errors", 3, "FAILED: 3 errors in 7 checkpoints (finished with errors)"},
        {"running", 0,
         "passed: no error in 7 checkpoints (still running when last written, "
         "2026-12-10T05:00:00Z)"},
    };
    for (const auto& rw : rows) {
        r.state = rw.state;
        r.updated_utc = "2026-12-10T05:00:00Z";
        r.errors.assign(rw.errors, stress_error{});
        EXPECT_EQ(stress_verdict(r), rw.verdict);
    }
}

TEST(StressOutput, EveryFormatBesideRunRecordsAndTextsStayText) {
    auto bad = stress_file("running_keep_going.json");
    bad.rec.stress->host = "lab<script>alert(1)</script>";
    bad.rec.stress->cores[1].first_error->message = "x | y, \"z\" </td><script>";
    const loaded_record run{"run.json", any_record{.run = record{}, .stress = std::nullopt}};
    const std::vector<loaded_record> mixed = {run, bad};

    const std::string md = show_any_text(mixed, table_format::md);
    EXPECT_LT(md.find("| median | mean |"), md.find("### running_keep_going: "));
    EXPECT_NE(md.find("| x \\| y, \"z\" </td><script> |"), std::string::npos) << md;
    EXPECT_NE(md.find("| 1 | avx2, sse2 | 1:01:00 | 60240 | 2 (left out) | 0:02:05 |"),
              std::string::npos)
        << md;

    const json j = json::parse(show_any_text(mixed, table_format::json));
    ASSERT_EQ(j.size(), 2u);
    EXPECT_TRUE(j[0].contains("points"));
    EXPECT_EQ(j[1]["kind"], "stress");
    EXPECT_EQ(j[1]["passed"], false);
    EXPECT_EQ(j[1]["cores"][1]["left_out"], true);
    EXPECT_EQ(j[1]["errors"].size(), 2u);

    EXPECT_THROW(show_any_text(mixed, table_format::csv), input_error);
    const std::string csv =
        show_any_text({bad, stress_file("stopped_at_error.json")}, table_format::csv);
    EXPECT_EQ(count(csv, "\n"), 1u + 2 + 3); // the header, then one row per core
    EXPECT_NE(csv.find(",\"x | y, \"\"z\"\" </td><script>\","), std::string::npos) << csv;

    const auto k = by_kind(mixed);
    const std::string page = html_report(k.runs, k.views, "2026-12-10T00:00:00Z", k.stress);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_NE(page.find("lab&lt;script&gt;"), std::string::npos);
    // Time under test and errors per core, after the run record's own chart.
    const auto section = page.find("<h2>Stability test: running_keep_going</h2>");
    ASSERT_NE(section, std::string::npos);
    EXPECT_EQ(count(page.substr(section), "<svg"), 2u);
    EXPECT_NE(page.find("<title>cpu 1: 2 error(s)</title>"), std::string::npos);
    EXPECT_NE(page.find("<title>cpu 0: 1:02:05 under test, 60240 checkpoints</title>"),
              std::string::npos);
    EXPECT_NE(page.find(">minutes</text>"), std::string::npos);
    EXPECT_NE(page.find("FAILED: 2 errors in 120480 checkpoints"), std::string::npos);
}

} // namespace
