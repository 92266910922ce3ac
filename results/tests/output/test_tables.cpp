// Statistics per sweep point and the show/compare tables, against golden outputs.
#include "analysis/views.hpp"
#include "cli/commands.hpp"
#include "output/exporters.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

using namespace kestrix::results;
namespace kx = kestrix::results;
using nlohmann::json;

namespace {

// A record as `run` writes it, reduced to what the tables read.
kx::record
rec(const std::string& label, const std::string& var, const std::string& isa,
    const std::vector<std::pair<std::string, std::vector<std::optional<double>>>>& points) {
    kx::record r;
    r.label = label;
    auto& o = r.options.resolved;
    o.workload = "standing_wave";
    o.isa = isa;
    o.size = 64;
    o.duration = 1;
    o.threads = 2;
    o.threading = "os";
    o.harness_var = var;
    r.system.processor.brand = "Test CPU 9000   ";
    r.harness = kx::harness_info{};
    std::uint64_t k = 1;
    for (const auto& [point, scores] : points) {
        r.harness->points.push_back(point);
        for (const auto& s : scores) {
            kx::sub_run sr;
            sr.index = k++;
            sr.point = point;
            sr.valid = s.has_value();
            sr.score = s;
            r.sub_runs.push_back(sr);
        }
    }
    return r;
}

TEST(ResultsTables, PointStatistics) {
    struct row {
        std::vector<std::optional<double>> scores;
        int n;
        std::optional<double> median, mean, sd, cv;
        bool noisy;
    };
    const row rows[] = {
        {{400, 410, 405}, 3, 405, 405, 5, 5.0 / 405 * 100, false},
        {{100, 101}, 2, 100.5, 100.5, std::sqrt(0.5), std::sqrt(0.5) / 100.5 * 100, false},
        {{100, std::nullopt, 104}, 2, 102, 102, std::sqrt(8.0), std::sqrt(8.0) / 102 * 100, false},
        {{250}, 1, 250, 250, std::nullopt, std::nullopt, false},
        {{std::nullopt, std::nullopt},
         0,
         std::nullopt,
         std::nullopt,
         std::nullopt,
         std::nullopt,
         false},
        {{}, 0, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false},
        {{1, 2, 3, 10}, 4, 2.5, 4, std::sqrt(50.0 / 3), std::sqrt(50.0 / 3) / 4 * 100, true},
    };
    for (const auto& r : rows) {
        const auto p = stats_of("x", r.scores);
        SCOPED_TRACE(r.scores.size());
        EXPECT_EQ(p.n, r.n);
        auto near = [](const std::optional<double>& a, const std::optional<double>& b) {
            EXPECT_EQ(a.has_value(), b.has_value());
            if (a && b) {
                EXPECT_NEAR(*a, *b, 1e-9);
            }
        };
        near(p.median, r.median);
        near(p.mean, r.mean);
        near(p.sd, r.sd);
        near(p.cv_percent, r.cv);
        EXPECT_EQ(p.noisy, r.noisy);
    }
    // The mark sits just above 3.5 %.
    EXPECT_FALSE(stats_of("x", {97.55, 102.45}).noisy); // cv 3.46 %
    EXPECT_TRUE(stats_of("x", {97.5, 102.5}).noisy);    // cv 3.54 %
}

const kx::record first =
    rec("desk", "isa", "sse2",
        {{"sse2", {400.0, 410.0, 405.0}}, {"avx2", {600.0, 602.0, std::nullopt}}});
const kx::record second =
    rec("lab", "isa", "sse2", {{"sse2", {401.0, 409.0, 404.0}}, {"avx2", {700.0, 704.0, 702.0}}});
const kx::record threads = rec("", "threads", "fma", {{"1", {100.0}}, {"2", {190.0}}});

TEST(ResultsTables, ShowMarkdownGolden) {
    const std::vector<record_view> v = {view_of(first, "a.json"), view_of(threads, "dir/t.json")};
    EXPECT_EQ(show_text(v, table_format::md),
              "### desk: Test CPU 9000, standing_wave, N = 64, 1 s, 2 threads (os), isa sweep\n"
              "\n"
              "| isa | run 1 | run 2 | run 3 | median | mean | sd | cv | note |\n"
              "|---|---:|---:|---:|---:|---:|---:|---:|---|\n"
              "| sse2 | 400.00 | 410.00 | 405.00 | 405.00 | 405.00 | 5.00 | 1.23 % |  |\n"
              "| avx2 | 600.00 | 602.00 | --- | 601.00 | 601.00 | 1.41 | 0.24 % |  |\n"
              "\n"
              "### t: Test CPU 9000, standing_wave fma, N = 64, 1 s (os), threads sweep\n"
              "\n"
              "| threads | run 1 | median | mean | sd | cv | note |\n"
              "|---|---:|---:|---:|---:|---:|---|\n"
              "| 1 | 100.00 | 100.00 | 100.00 | --- | --- |  |\n"
              "| 2 | 190.00 | 190.00 | 190.00 | --- | --- |  |\n");
}

TEST(ResultsTables, OneThreadIsSingular) {
    kx::record one = first;
    one.options.resolved.threads = 1;
    EXPECT_EQ(view_of(one, "a.json").title,
              "Test CPU 9000, standing_wave, N = 64, 1 s, 1 thread (os), isa sweep");
}

TEST(ResultsTables, CompareGolden) {
    const std::vector<record_view> v = {view_of(first, "a.json"), view_of(second, "b.json")};
    EXPECT_EQ(
        compare_text(v, table_format::md),
        "### isa sweep, against desk\n"
        "\n"
        "- desk: Test CPU 9000, standing_wave, N = 64, 1 s, 2 threads (os), isa sweep\n"
        "- lab: Test CPU 9000, standing_wave, N = 64, 1 s, 2 threads (os), isa sweep\n"
        "\n"
        "| isa | record | scores | median | mean | sd | cv | ratio | beyond spread | note |\n"
        "|---|---|---|---:|---:|---:|---:|---:|---|---|\n"
        "| sse2 | desk | 400.00 410.00 405.00 | 405.00 | 405.00 | 5.00 | 1.23 % | 1.000 |  |  |\n"
        "| sse2 | lab | 401.00 409.00 404.00 | 404.00 | 404.67 | 4.04 | 1.00 % | 0.999 | no |  |\n"
        "| avx2 | desk | 600.00 602.00 --- | 601.00 | 601.00 | 1.41 | 0.24 % | 1.000 |  |  |\n"
        "| avx2 | lab | 700.00 704.00 702.00 | 702.00 | 702.00 | 2.00 | 0.28 % | 1.168 | yes |  "
        "|\n");
    EXPECT_EQ(
        compare_text(v, table_format::csv),
        "variable,point,record,scores,n,median,mean,sd,cv_percent,noisy,ratio,exceeds_spread\n"
        "isa,sse2,desk,400.00;410.00;405.00,3,405.00,405.00,5.00,1.23,no,1.000,---\n"
        "isa,sse2,lab,401.00;409.00;404.00,3,404.00,404.67,4.04,1.00,no,0.999,no\n"
        "isa,avx2,desk,600.00;602.00;---,2,601.00,601.00,1.41,0.24,no,1.000,---\n"
        "isa,avx2,lab,700.00;704.00;702.00,3,702.00,702.00,2.00,0.28,no,1.168,yes\n");
    const json j = json::parse(compare_text(v, table_format::json));
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["rows"][3]["exceeds_spread"], true);
    EXPECT_NEAR(j[0]["rows"][3]["ratio"].get<double>(), 702.0 / 601.0, 1e-12);
}

TEST(ResultsTables, CompareGroupsBySweepAndKeepsNewPoints) {
    const kx::record other =
        rec("x", "isa", "sse2", {{"fma", {500.0, 501.0}}, {"sse2", {100.0, 300.0}}});
    const std::vector<record_view> v = {view_of(first, "a"), view_of(threads, "t"),
                                        view_of(other, "x")};
    const auto groups = compare_groups(v);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].variable, "isa");
    EXPECT_EQ(groups[1].variable, "threads");
    // sse2 (both), avx2 (first only), fma (second only, no reference: no ratio).
    ASSERT_EQ(groups[0].rows.size(), 4u);
    EXPECT_EQ(groups[0].rows[2].point, "avx2");
    EXPECT_EQ(groups[0].rows[3].point, "fma");
    EXPECT_FALSE(groups[0].rows[3].ratio.has_value());
    // A wide spread hides a difference: 405 against 200 with sd 141 and 5.
    EXPECT_EQ(groups[0].rows[1].exceeds, std::optional<bool>(true));
    EXPECT_TRUE(groups[0].rows[1].stats->noisy);
    const auto csv = show_text({view_of(other, "x")}, table_format::csv);
    EXPECT_NE(csv.find("x,isa,sse2,100.00;300.00,2,200.00,200.00,141.42,70.71,yes\n"),
              std::string::npos)
        << csv;
}

TEST(ResultsTables, MarkdownAndCsvEscapeLabels) {
    const kx::record odd = rec("a|b,\"c\"", "none", "sse2", {{"none", {1.0}}});
    const std::vector<record_view> v = {view_of(odd, "o")};
    EXPECT_NE(show_text(v, table_format::md).find("### a\\|b,\"c\": "), std::string::npos);
    EXPECT_NE(show_text(v, table_format::csv).find("\n\"a|b,\"\"c\"\"\",none,none,1.00,1,"),
              std::string::npos)
        << show_text(v, table_format::csv);
}

// Text from records reaches the page only as text: labels, brands and points cannot open an
// element or leave an attribute.
TEST(ResultsTables, ReportEscapesEveryText) {
    kx::record evil = rec("<script>alert(1)</script>", "isa", "sse2",
                          {{"\"><img src=x onerror=alert(1)>", {1.0, 2.0}}});
    evil.system.processor.brand = "</table><script>";
    evil.system.facts = std::map<std::string, kx::system_fact>{
        {"board.vendor", {json("<b>"), std::string("dmi"), std::nullopt}}};
    const auto views = std::vector<record_view>{view_of(evil, "e.json")};
    const std::string page = html_report({evil}, views, "2026-12-10T00:00:00Z");
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("&quot;&gt;&lt;img src=x"), std::string::npos);
    // The stylesheet and template made it in.
    EXPECT_NE(page.find("svg.chart{display:block"), std::string::npos);
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(page.find("{{"), std::string::npos);
}

} // namespace
