// The score over time as show, compare and report present it: a real run's record
// (data/timeline_run.json: two 12 s sub-runs of two workers), records whose timeline says the
// score fell or the phase was too short, and records that have none (an import, version 1).
#include "capture/log_reader.hpp"
#include "capture/score_timeline.hpp"
#include "cli/commands.hpp"
#include "model/storage.hpp"
#include "output/exporters.hpp"
#include "output/timeline_export.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace kestrix::results;
using kestrix::results::test::data_file;
using nlohmann::json;

namespace {

// A record of one sub-run whose rate is `before` until `drop_at` s and `after` to the end.
record synthetic(const std::string& label, double seconds, double drop_at, double before,
                 double after) {
    std::vector<progress_sample> lines;
    double done = 0;
    for (int k = 0; k <= static_cast<int>(seconds * 100); ++k) {
        const double t = k / 100.0;
        if (k > 0) {
            done += (t <= drop_at ? before : after) * 0.01;
        }
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.4g", t > 0 ? done / t : 0.0);
        lines.push_back({static_cast<std::int64_t>(k) * 10'000'000, std::strtod(rate, nullptr), 0,
                         static_cast<std::uint64_t>(seconds)});
    }
    record r;
    r.source = "run";
    r.label = label;
    sub_run s;
    s.index = 1;
    s.point = "none";
    s.valid = true;
    s.score = before;
    s.timeline = derive_timeline(lines, {4, 64, std::nullopt, 1.0});
    r.sub_runs.push_back(s);
    return r;
}

struct loaded {
    std::vector<record> records;
    std::vector<record_view> views;
};

loaded load(std::vector<record> recs) {
    loaded l;
    l.records = std::move(recs);
    for (const auto& r : l.records) {
        l.views.push_back(view_of(r, r.label + ".json"));
    }
    return l;
}

record imported() {
    record r;
    r.source = "import";
    r.label = "imported";
    sub_run s;
    s.index = 1;
    s.point = "none";
    s.valid = true;
    s.score = 300;
    r.sub_runs.push_back(s);
    return r;
}

record labelled(record r, const char* label) {
    r.label = label;
    return r;
}

} // namespace

TEST(TimelineOutput, ShowSaysPerSubRunWhatIsKnownAndWhyNot) {
    const auto l = load({labelled(load_record(data_file("timeline_run.json")), "real"),
                         synthetic("drop", 20, 18, 100, 50), synthetic("short", 5, 99, 100, 100),
                         imported(), labelled(load_record(data_file("v1/run_plain.json")), "old")});
    const std::string text = timeline_summary_lines(l.records, l.views);
    const std::vector<std::pair<const char*, const char*>> want = {
        {"- real run 1 (none): ", " per interval over 12.0 s (12 of 1.0 s, each within \u00b1"},
        {"- real run 2 (none): ", "; drift 0."},
        {"- drop run 1 (none): ", "; drift 0.50"},
        {"- drop run 1 (none): ", "the score fell by 5"},
        {"- short run 1 (none): ", "(5 of 1.0 s, each within"},
        {"- short run 1 (none): ", "; drift n/a: too short\n"},
        {"- imported run 1 (none): ", "drift n/a: an imported log has no arrival times\n"},
        {"- old run 1 (", "drift n/a: a record of schema version 1 keeps none\n"},
    };
    for (const auto& [head, part] : want) {
        const auto at = text.find(head);
        ASSERT_NE(at, std::string::npos) << head << "\n" << text;
        const auto end = text.find('\n', at);
        EXPECT_NE(text.substr(at, end + 1 - at).find(part), std::string::npos)
            << part << "\n"
            << text.substr(at, end - at);
    }
    // One line per sub-run, under one heading.
    std::size_t lines = 0;
    for (const auto& r : l.records) {
        lines += r.sub_runs.size();
    }
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), lines + 3);
    EXPECT_EQ(text.rfind("\n### score over time\n\n", 0), 0u);
    const auto real2 = text.find("- real run 2");
    EXPECT_EQ(text.substr(real2, text.find('\n', real2) - real2).find("fell"), std::string::npos);
}

TEST(TimelineOutput, SeriesExportHoldsEveryPoint) {
    const auto l = load({labelled(load_record(data_file("timeline_run.json")), "a,b"),
                         synthetic("drop", 20, 18, 100, 50), imported()});
    std::size_t points = 0;
    for (const auto& r : l.records) {
        for (const auto& s : r.sub_runs) {
            points += s.timeline ? s.timeline->points.size() : 0;
        }
    }
    const std::string csv = series_csv(l.records, l.views);
    EXPECT_EQ(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')), points + 1);
    EXPECT_EQ(csv.rfind("record,sub_run,point,t_s,mgups\n\"a,b\",1,none,", 0), 0u) << csv;
    const auto last = csv.find("\ndrop,1,none,20.000,");
    ASSERT_NE(last, std::string::npos) << csv;
    EXPECT_NEAR(std::atof(csv.c_str() + last + 20), 50.0, 0.5) << csv;

    const json j = json::parse(series_json(l.records, l.views));
    ASSERT_EQ(j.size(), 4u); // two sub-runs, one, one
    EXPECT_EQ(j[2]["timeline"]["points"].size(), 20u);
    EXPECT_LT(j[2]["timeline"]["summary"]["drift"].get<double>(), 0.52);
    EXPECT_TRUE(j[3]["timeline"].is_null());
    EXPECT_EQ(j[3]["unavailable"], "an imported log has no arrival times");
}

TEST(TimelineOutput, CompareAddsDriftWhereKnown) {
    const auto with = load({synthetic("drop", 20, 18, 100, 50), imported()});
    const auto without = load({imported(), imported()});
    struct row {
        const loaded& l;
        table_format f;
        const char* present; // "" : no drift anywhere in the output
        const char* value;
    };
    const std::vector<row> rows = {
        {with, table_format::md, " | note | drift |", " | 0.500 |\n"},
        {with, table_format::csv, ",exceeds_spread,drift\n", ",0.500\n"},
        {with, table_format::json, "\"drifts\": [\n          0.5\n", "null"},
        {without, table_format::md, "", ""},
        {without, table_format::csv, "", ""},
        {without, table_format::json, "", ""},
    };
    for (const auto& r : rows) {
        const std::string out = compare_text(r.l.views, r.f);
        if (*r.present) {
            EXPECT_NE(out.find(r.present), std::string::npos) << out;
            EXPECT_NE(out.find(r.value), std::string::npos) << out;
        } else {
            EXPECT_EQ(out.find("drift"), std::string::npos) << out;
        }
    }
}

TEST(TimelineOutput, ReportDrawsTheScoreOverTimeAndMarksAFall) {
    const auto l = load({synthetic("drop", 20, 18, 100, 50), synthetic("even", 20, 99, 90, 90),
                         synthetic("short", 5, 99, 100, 100), imported()});
    const std::string page = html_report(l.records, l.views, "now");
    auto count = [&](const std::string& s) {
        std::size_t n = 0;
        for (auto at = page.find(s); at != std::string::npos; at = page.find(s, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("class=\"timeline\""), 3u);               // one line per sub-run with points
    EXPECT_EQ(count("<rect x=") - count("width=\"12\""), 4u); // two drift windows per 20 s run
    EXPECT_EQ(count("class=\"fell\""), 1u);
    EXPECT_NE(page.find("run 1 (none): drift n/a: too short"), std::string::npos);
    // Numbers no run gives (a record edited by hand) draw no chart, and never hang.
    for (const double v : {1.7e308, 5e-324, -1.0}) {
        auto odd = load({synthetic("odd", 20, 99, 90, 90)});
        odd.records[0].sub_runs[0].timeline->points[3] = {3.0, v};
        odd.records[0].sub_runs[0].timeline->timed_s = v;
        EXPECT_NE(html_report(odd.records, odd.views, "now").find("Score over time"),
                  std::string::npos);
    }
    // A page without any timeline has no such section.
    const auto none = load({imported()});
    EXPECT_EQ(html_report(none.records, none.views, "now").find("Score over time"),
              std::string::npos);
}
