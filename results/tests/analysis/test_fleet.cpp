// The fleet report on generated records: who is slow, who failed, which record counts.
#include "analysis/fleet.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace kestrix::results;

namespace {

record standard_run(const std::string& host, std::optional<double> all, std::string when = "",
                    std::string brand = "Test CPU 9000") {
    record r;
    r.source = "run";
    r.mode = run_mode::suite;
    r.complete = true;
    r.kestrix_version = "1.3.0";
    r.system.host = host;
    r.system.end_utc = when.empty() ? "2026-12-10T08:00:00Z" : when;
    r.system.processor.brand = brand;
    r.system.topology.packages = 1;
    r.system.topology.cores = 8;
    r.system.topology.logical_processors = 16;
    suite_info s;
    s.widest = "avx2";
    suite_part single{"single", "avx2", 1, 1, {100.0}, 100.0, {}, 0};
    suite_part whole{"all", "avx2", 0, 8, {all}, all, {}, 0};
    if (!all) {
        whole.reason = "1 of 1 sub-runs without a score";
    }
    s.parts = {single, whole};
    r.suite = s;
    return r;
}

fleet_report report_of(const std::vector<double>& scores, fleet_limits lim = {}) {
    std::vector<fleet_input> in;
    for (std::size_t i = 0; i < scores.size(); ++i) {
        const std::string host = "node" + std::to_string(i);
        in.push_back({host + ".json", standard_run(host, scores[i]), "", ""});
    }
    return fleet_of(in, fleet_metric::all, lim, {});
}

std::vector<std::string> slow_hosts(const fleet_report& r) {
    std::vector<std::string> out;
    for (const auto& g : r.groups) {
        for (const auto& h : g.hosts) {
            if (h.slow) {
                out.push_back(h.host);
            }
        }
    }
    return out;
}

TEST(Fleet, SlowByRobustZOrByPercentBelowTheMedian) {
    struct case_t {
        const char* what;
        std::vector<double> scores;
        fleet_limits limits;
        std::vector<std::string> slow;
    };
    const std::vector<case_t> cases = {
        {"one far below", {600, 602, 598, 601, 599, 600, 603, 597, 600, 480}, {}, {"node9"}},
        {"tight group: 2 % below is many MADs", {600, 601, 599, 600.5, 599.5, 588}, {}, {"node5"}},
        {"MAD 0: only the percentage, 6 % below", {500, 500, 500, 470}, {}, {"node3"}},
        {"MAD 0: 4 % below is not slow", {500, 500, 500, 480}, {}, {}},
        {"a tighter percentage", {500, 500, 500, 480}, {-3.5, 3.0}, {"node3"}},
        {"a wide group: 5 % below counts, faster never",
         {400, 500, 600, 700, 800},
         {},
         {"node0", "node1"}},
        {"one host", {500}, {}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(slow_hosts(report_of(c.scores, c.limits)), c.slow) << c.what;
    }
}

TEST(Fleet, GroupMedianMadAndZ) {
    const fleet_report r = report_of({10, 12, 14, 16, 30});
    ASSERT_EQ(r.groups.size(), 1u);
    const fleet_group& g = r.groups[0];
    EXPECT_DOUBLE_EQ(*g.median, 14.0);
    EXPECT_DOUBLE_EQ(*g.mad, 2.0);            // deviations 4 2 0 2 16
    EXPECT_EQ(g.hosts.front().host, "node0"); // lowest first
    EXPECT_NEAR(*g.hosts.front().z, 0.6745 * (10 - 14) / 2.0, 1e-12);
    EXPECT_NEAR(*g.hosts.front().below_percent, 100.0 * 4 / 14, 1e-9);
}

TEST(Fleet, FailedSupersededAndNotComparable) {
    record incomplete = standard_run("n3", 500);
    incomplete.complete = false;
    incomplete.incomplete_reason = "interrupted";
    record sweep = standard_run("n5", 500);
    sweep.suite.reset();
    sweep.mode = run_mode::benchmark;
    sweep.options.resolved.harness_var = "size";
    record other_processor = standard_run("n6", 300, "", "Other CPU 1");
    const std::vector<fleet_input> in = {
        {"a.json", standard_run("n1", 500, "2026-12-10T09:00:00Z"), "", ""},
        {"b.json", standard_run("n1", 100, "2026-12-10T08:00:00Z"), "", ""}, // older: superseded
        {"c.json", standard_run("n2", std::nullopt), "", ""},
        {"d.json", incomplete, "", ""},
        {"e.json", std::nullopt, "not JSON", ""},
        {"f.json", sweep, "", ""},
        {"g.json", other_processor, "", ""},
        {"h.json", standard_run("n7", 505), "", ""},
        {"s.json", std::nullopt, "", "a kestrix-stress record"},
    };
    const fleet_report r = fleet_of(in, fleet_metric::all, {}, {"n1", "n2", "n9"});
    ASSERT_EQ(r.groups.size(), 2u) << "the other processor is a group of its own";
    EXPECT_EQ(r.groups[0].hosts.size(), 2u);
    EXPECT_EQ(r.slow, 0) << "the superseded slow record of n1 does not count";
    ASSERT_EQ(r.superseded.size(), 1u);
    EXPECT_EQ(r.superseded[0].file, "b.json");
    std::vector<std::string> failed;
    for (const auto& h : r.failed) {
        failed.push_back(h.file + ":" + h.reason.substr(0, 12));
    }
    EXPECT_EQ(failed, (std::vector<std::string>{"e.json:cannot be re", "c.json:no valid sco",
                                                "d.json:incomplete: ", ":wrote no rec"}));
    ASSERT_EQ(r.not_comparable.size(), 2u);
    EXPECT_EQ(r.not_comparable[0].reason, "a kestrix-stress record");
    EXPECT_EQ(r.not_comparable[1].reason, "a size sweep");
    EXPECT_EQ(r.hosts, 6); // n1 n2 n3 n6 n7 and the expected n9; the sweep is not compared
}

TEST(Fleet, MetricPicksThePartAndOutputsEscapeHostNames) {
    std::vector<fleet_input> in = {{"x.json", standard_run("a|b\nc", 500), "", ""}};
    const fleet_report single = fleet_of(in, fleet_metric::single, {}, {});
    ASSERT_EQ(single.groups.size(), 1u);
    EXPECT_DOUBLE_EQ(*single.groups[0].hosts[0].score, 100.0);
    const fleet_report missing = fleet_of(in, fleet_metric::all_baseline, {}, {});
    ASSERT_EQ(missing.failed.size(), 1u);
    EXPECT_EQ(missing.failed[0].reason, "no all threads, sse2 run");

    const std::string md = fleet_markdown(single);
    EXPECT_NE(md.find("| a\\|b c |"), std::string::npos) << md;
    const std::string csv = fleet_csv(single);
    EXPECT_NE(csv.find("\"a|b\nc\""), std::string::npos) << csv;
    const auto parsed = nlohmann::json::parse(fleet_json(single), nullptr, false);
    EXPECT_EQ(parsed.at("groups").at(0).at("hosts").at(0).at("host"), "a|b\nc");
}

} // namespace
