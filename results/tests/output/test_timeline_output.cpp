// The score over time as show, compare and report present it: a real run's record
// (data/timeline_run.json: two 12 s sub-runs of two workers), records whose timeline says the
// score fell or the phase was too short, and records that have none (an import, version 1).
#include "capture/log_reader.hpp"
#include "capture/score_timeline.hpp"
#include "capture/sensor_series.hpp"
#include "cli/commands.hpp"
#include "model/storage.hpp"
#include "output/exporters.hpp"
#include "output/sensor_export.hpp"
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

std::size_t occurrences(const std::string& text, const std::string& s) {
    std::size_t n = 0;
    for (auto at = text.find(s); at != std::string::npos; at = text.find(s, at + 1)) {
        ++n;
    }
    return n;
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
    EXPECT_EQ(csv.rfind("record,sub_run,point,series,t_s,value\n\"a,b\",1,none,mgups,", 0), 0u)
        << csv;
    const auto last = csv.find("\ndrop,1,none,mgups,20.000,");
    ASSERT_NE(last, std::string::npos) << csv;
    EXPECT_NEAR(std::atof(csv.c_str() + last + 26), 50.0, 0.5) << csv;

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
    auto count = [&](const std::string& s) { return occurrences(page, s); };
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

namespace {

// `synthetic` with sensors sampled every second for its 20 s: the clock at 3000-3100 MHz, 50 W
// from the energy counter, one throttle event at 12 s, and no temperature (with its reason).
record sampled(const std::string& label) {
    record r = synthetic(label, 20, 99, 100, 100);
    std::vector<timed_reading> samples;
    for (int i = 0; i <= 20; ++i) {
        timed_reading t;
        t.at_ns = std::int64_t{i} * 1'000'000'000;
        t.reading.clock_mhz = {3000.0, 3100.0};
        t.reading.energy_j = 50.0 * i;
        t.reading.throttle_events = i >= 12 ? 4 : 3;
        samples.push_back(t);
    }
    sensor_status st;
    st.clock_label = "effective";
    st.clock.source = "/dev/cpu/*/msr";
    st.power.source = "intel-rapl:0";
    st.throttle.source = "thermal_throttle";
    st.temperature.unavailable = "no hwmon sensor of a known chip";
    r.sub_runs[0].sensors =
        sensors_in_window(samples, st, {0, 100'000'000'000, 0, r.sub_runs[0].score}, 1.0);
    return r;
}

} // namespace

TEST(SensorOutput, ShowCompareSeriesAndReport) {
    const auto l = load({sampled("hot"), imported()});
    const std::string lines = sensor_summary_lines(l.records, l.views);
    for (const char* part :
         {"\n### sensors\n\n- hot run 1 (none): clock 3.05 GHz mean, 3.10 max (effective); ",
          "temperature n/a: no hwmon sensor of a known chip; power 50.0 W mean, 1000 J; 2.000 "
          "MGups/W; throttle 1 events; drift 1.000\n",
          "- imported run 1 (none): sensors n/a: an imported log has no sensor samples; drift "
          "n/a: no score over time\n"}) {
        EXPECT_NE(lines.find(part), std::string::npos) << part << "\n" << lines;
    }
    EXPECT_EQ(sensor_summary_lines({imported()}, {l.views[1]}), "");

    EXPECT_NE(compare_text(l.views, table_format::md).find(" MGups/W |"), std::string::npos);
    EXPECT_NE(compare_text(l.views, table_format::csv).find(",mgups_per_w\n"), std::string::npos);
    EXPECT_NE(compare_text(l.views, table_format::md).find(" | 2.000 |\n"), std::string::npos);
    const auto plain = load({imported(), imported()});
    EXPECT_EQ(compare_text(plain.views, table_format::md).find("MGups/W"), std::string::npos);

    const std::string csv = series_csv(l.records, l.views);
    EXPECT_NE(csv.find("\nhot,1,none,clock_max_mhz,20.000,3100.0\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\nhot,1,none,power_w,1.000,50.000\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\nhot,1,none,throttle_events,12.000,1.000\n"), std::string::npos) << csv;
    const json j = json::parse(series_json(l.records, l.views));
    EXPECT_EQ(j[0]["sensors"]["summary"]["energy_j"], 1000.0);
    EXPECT_EQ(j[1]["sensors_unavailable"], "an imported log has no sensor samples");

    const std::string page = html_report(l.records, l.views, "now");
    auto count = [&](const std::string& s) { return occurrences(page, s); };
    EXPECT_EQ(count("Score and sensors over time"), 1u);
    EXPECT_EQ(count("class=\"throttle\""), 4u); // the one event, in every panel
    EXPECT_EQ(count("class=\"series\""), 3u);   // score, clock, power
    EXPECT_EQ(count(">n/a: no hwmon sensor of a known chip<"), 1u);
    EXPECT_EQ(count("class=\"timeline\""), 0u); // its score is drawn among the sensors
    // Numbers no run gives draw no chart, and never hang.
    for (const double v : {1.7e308, -1.7e308, 5e-324}) {
        auto odd = load({sampled("odd")});
        odd.records[0].sub_runs[0].sensors->clock.points[3].max_mhz = v;
        odd.records[0].sub_runs[0].sensors->power_w.points[2].t_s = v;
        EXPECT_NE(html_report(odd.records, odd.views, "now").find("Score and sensors"),
                  std::string::npos);
    }
}
