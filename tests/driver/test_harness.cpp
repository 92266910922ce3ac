// Sweep points, the run list, the estimate, the sub-run loop and the results table.
#include "driver/harness.hpp"
#include "driver/run_types.hpp"
#include "driver/sweep.hpp"
#include "support/capture_sink.hpp"
#include "support/fake_run.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <numeric>

namespace kestrix {
namespace {

using range32 = sweep_range<std::uint32_t>;
using range64 = sweep_range<std::uint64_t>;

TEST(parse_range, pieces_defaults_and_failures) {
    struct row {
        const char* text;
        std::optional<range32> expected;
    };
    const std::vector<row> rows = {
        {"", range32{5, 60, 1}},
        {"auto", range32{5, 60, 1}},
        {"10-30:10", range32{10, 30, 10}},
        {"10-30", range32{10, 30, 1}},
        {"10", range32{10, 10, 1}},
        {"-20", range32{5, 20, 1}},
        {"7-", range32{7, 60, 1}},
        {"-", range32{5, 60, 1}},
        {":5", range32{5, 60, 5}},
        {"10-30:", range32{10, 30, 1}},
        {":", range32{5, 60, 1}},
        {"4294967295", range32{4294967295U, 4294967295U, 1}},
        {"4294967296", std::nullopt},
        {"30-10", std::nullopt},
        {"10-30:0", std::nullopt},
        {"1,2", std::nullopt},
        {"+5", std::nullopt},
        {"5-6-7", std::nullopt},
        {" 5", std::nullopt},
        {"a-b", std::nullopt},
        {"Auto", std::nullopt},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(parse_range(r.text, 5U, 60U, 1U), r.expected) << r.text;
    }
}

TEST(parse_range, the_wide_version_takes_64_bit_values) {
    EXPECT_EQ(parse_range("4294967296-18446744073709551615", std::uint64_t{1}, std::uint64_t{2},
                          std::uint64_t{1}),
              (range64{4294967296ULL, 18446744073709551615ULL, 1}));
    EXPECT_EQ(
        parse_range("18446744073709551616", std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{1}),
        std::nullopt);
}

TEST(parse_list, splits_at_every_comma) {
    using list = std::vector<std::string>;
    struct row {
        const char* text;
        std::optional<list> expected;
    };
    const std::vector<row> rows = {
        {"auto", std::nullopt},        {"", list{""}},
        {"a,", list{"a", ""}},         {"a", list{"a"}},
        {",,", list{"", "", ""}},      {"128,8192,128", list{"128", "8192", "128"}},
        {"auto,a", list{"auto", "a"}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(parse_list(r.text), r.expected) << r.text;
    }
}

cpu_topology topology_with_cores(std::uint32_t cores) {
    cpu_topology t;
    t.numa_nodes.resize(1);
    t.numa_nodes[0].llcs.resize(1);
    for (std::uint32_t i = 0; i < cores; ++i) {
        core c;
        c.id = i;
        c.logicals.push_back(logical{i, i, i, 0});
        t.numa_nodes[0].llcs[0].cores.push_back(c);
    }
    return t;
}

TEST(max_threads_for_size, cores_limited_by_memory) {
    const std::uint64_t grid = grid_bytes(256);
    struct row {
        std::uint32_t cores;
        std::uint64_t memory;
        std::uint32_t expected;
    };
    for (const row r : {row{8, 0, 8}, row{8, grid * 3, 3}, row{8, grid - 1, 8},
                        row{8, grid * 100, 8}, row{2, grid * 2, 2}}) {
        EXPECT_EQ(max_threads_for_size(topology_with_cores(r.cores), 256, r.memory), r.expected);
    }
}

class sweep_test : public ::testing::Test {
protected:
    static std::vector<std::string> labels(const std::optional<run_list>& runs) {
        std::vector<std::string> out;
        if (runs) {
            for (const auto& r : *runs) {
                out.push_back(r.label);
            }
        }
        return out;
    }
    static std::vector<std::string> numbers(std::uint64_t from, std::uint64_t to) {
        std::vector<std::string> out;
        for (std::uint64_t v = from; v <= to; ++v) {
            out.push_back(std::to_string(v));
        }
        return out;
    }
    run_request config_;
    test::fake_script script_;
    test::capture_sink sink_;
    run_env hooks_ = test::fake_env(script_, sink_);
    sweep_context context_{config_, hooks_};
};

using strings = std::vector<std::string>;

TEST_F(sweep_test, size_points) {
    struct row {
        const char* option;
        std::optional<strings> expected;
    };
    const std::vector<row> rows = {
        {"", strings{"64", "128", "192", "256", "320", "384", "448", "512", "640", "768", "1024",
                     "2048", "4096", "8192"}},
        {"auto", strings{"64", "128", "192", "256", "320", "384", "448", "512", "640", "768",
                         "1024", "2048", "4096", "8192"}},
        {"256-512", strings{"256", "320", "384", "448", "512"}},
        {":128", strings{"64", "192", "320"}},
        {"-", strings{"64", "128", "192", "256", "320", "384"}},
        {"128,8192,128", strings{"128", "8192", "128"}},
        {"1024", strings{"1024"}},
        {"512-256", std::nullopt},
        {"200-512", std::nullopt},
        {"200", std::nullopt},
        {"64,", std::nullopt},
        {"64-8192:1000", strings{"64"}},
    };
    for (const auto& r : rows) {
        const auto runs = h_size_var::gen(r.option, context_);
        EXPECT_EQ(runs.has_value(), r.expected.has_value()) << r.option;
        if (r.expected) {
            EXPECT_EQ(labels(runs), *r.expected) << r.option;
        }
    }
}

TEST_F(sweep_test, duration_points) {
    struct row {
        const char* option;
        std::optional<strings> expected;
    };
    const std::vector<row> rows = {
        {"auto", numbers(5, 59)},
        {"", numbers(5, 59)},
        {"10-30:10", strings{"10", "20", "30"}},
        {"10-35:10", strings{"10", "20", "30"}},
        {"-", numbers(5, 60)},
        {"0,5000,7", strings{"0", "5000", "7"}},
        {"4294967295", strings{"4294967295"}},
        {"4294967290-4294967295:4", strings{"4294967290", "4294967294"}},
        {"x", std::nullopt},
        {"1,,2", std::nullopt},
    };
    for (const auto& r : rows) {
        const auto runs = h_dur_var::gen(r.option, context_);
        EXPECT_EQ(runs.has_value(), r.expected.has_value()) << r.option;
        if (r.expected) {
            EXPECT_EQ(labels(runs), *r.expected) << r.option;
        }
    }
}

TEST_F(sweep_test, thread_points_against_the_limit) {
    struct row {
        const char* option;
        std::uint32_t limit;
        std::optional<strings> expected;
    };
    const std::vector<row> rows = {
        {"auto", 8, numbers(1, 7)}, {"-", 8, numbers(1, 8)},       {"", 1, strings{}},
        {"-", 1, strings{"1"}},     {"0,3", 8, strings{"0", "3"}}, {"2-4", 1, numbers(2, 4)},
        {"3-", 2, std::nullopt},    {"t", 8, std::nullopt},
    };
    for (const auto& r : rows) {
        const auto runs = h_threads_var::gen_for(r.option, context_, r.limit);
        EXPECT_EQ(runs.has_value(), r.expected.has_value()) << r.option;
        if (r.expected) {
            EXPECT_EQ(labels(runs), *r.expected) << r.option;
        }
    }
}

TEST_F(sweep_test, isa_points) {
    struct row {
        const char* option;
        std::optional<strings> expected;
    };
    const strings all = {"sse2",    "avx",      "avx2",        "fma",        "fma-apx",
                         "avx512f", "avx512vl", "avx10-2-256", "avx10-2-512"};
    const std::vector<row> rows = {
        {"", all},
        {"auto", all},
        {"-avx2", strings{"sse2", "avx", "avx2"}},
        {"avx512f-", strings{"avx512f", "avx512vl", "avx10-2-256", "avx10-2-512"}},
        {"avx2", strings{"avx2"}},
        {"avx-avx2:1", std::nullopt},
        {"fma-apx", strings{"fma-apx"}},
        {"fma-apx,avx2", strings{"fma-apx", "avx2"}},
        {"avx10-2-256", strings{"avx10-2-256"}},
        {"avx2-avx", std::nullopt},
        {"AVX2", std::nullopt},
        {"avx2,", std::nullopt},
    };
    for (const auto& r : rows) {
        const auto runs = h_isa_var::gen(r.option, context_);
        EXPECT_EQ(runs.has_value(), r.expected.has_value()) << r.option;
        if (r.expected) {
            EXPECT_EQ(labels(runs), *r.expected) << r.option;
        }
    }
}

TEST_F(sweep_test, estimates_per_variable_use_the_clamped_durations) {
    struct row {
        std::uint32_t duration; // the configured one
        std::uint32_t none, size, threads, isa;
    };
    for (const row r :
         {row{30, 30, 31, 31, 30}, row{0, 1, 2, 2, 1}, row{4000, 1000, 1001, 1001, 1000}}) {
        config_.duration = r.duration;
        EXPECT_EQ((*h_none_var::gen("whatever", context_))[0].estimate_seconds, r.none);
        EXPECT_EQ((*h_size_var::gen("64", context_))[0].estimate_seconds, r.size);
        EXPECT_EQ((*h_threads_var::gen_for("2", context_, 4))[0].estimate_seconds, r.threads);
        EXPECT_EQ((*h_isa_var::gen("avx", context_))[0].estimate_seconds, r.isa);
    }
    std::vector<std::uint32_t> swept;
    const auto runs = h_dur_var::gen("0,10,1000,1001,4294967295", context_);
    for (const auto& run : *runs) {
        swept.push_back(run.estimate_seconds);
    }
    EXPECT_EQ(swept, (std::vector<std::uint32_t>{2, 11, 1001, 1001, 1001}));
    EXPECT_EQ(labels(h_none_var::gen("x", context_)), strings{"none"});
}

TEST_F(sweep_test, a_plan_beyond_the_free_memory_is_refused_at_its_real_cost) {
    // The free memory holds exactly `fit` planned runs.
    const std::uint64_t fit = 1000;
    hooks_.available_memory = [fit] { return fit * planned_run_bytes; };
    EXPECT_EQ(h_dur_var::gen("1-1000", context_)->size(), 1000U);
    EXPECT_THROW(h_dur_var::gen("1-1001", context_), std::bad_alloc);
    EXPECT_THROW(h_threads_var::gen_for("1-1001", context_, 4), std::bad_alloc);
    std::string list = "1";
    for (int i = 0; i < 1000; ++i) {
        list += ",1";
    }
    EXPECT_THROW(h_dur_var::gen(list, context_), std::bad_alloc);
    hooks_.available_memory = [] { return std::uint64_t{0}; }; // unknown: no refusal
    EXPECT_EQ(h_dur_var::gen("1-1001", context_)->size(), 1001U);
}

TEST(harness_estimate, pauses_and_sub_runs_without_overflow) {
    auto runs_of = [](std::vector<std::uint32_t> estimates) {
        std::vector<bench_box::harness_run> runs(estimates.size());
        for (std::size_t i = 0; i < estimates.size(); ++i) {
            runs[i].estimate_seconds = estimates[i];
        }
        return runs;
    };
    EXPECT_EQ(harness_estimate(runs_of({30}), 3, 1), 90U);
    EXPECT_EQ(harness_estimate(runs_of({}), 3, 1), 0U);
    EXPECT_EQ(harness_estimate(runs_of({30, 30}), 0, 1), 0U);
    EXPECT_EQ(harness_estimate(runs_of({11, 21}), 2, 600), 1U + 64U);
    EXPECT_EQ(harness_estimate(runs_of({4294967295U}), 4294967295U, 1),
              4294967295ULL * 4294967295ULL);
    EXPECT_EQ(harness_estimate(runs_of({4294967295U, 4294967295U, 4294967295U}), 4294967295U,
                               4294967295U),
              UINT64_MAX);
}

struct harness_output {
    std::string out;
    std::string err;
};

template <typename F> harness_output capture(F f) {
    test::capture_sink sink;
    f(sink);
    return {sink.out(), sink.err()};
}

bench_box::harness_run point(std::string label) {
    bench_box::harness_run run;
    run.label = std::move(label);
    return run;
}

TEST(execute_runs, every_point_runs_every_sub_run_with_markers) {
    run_list runs;
    runs.push_back(point("a"));
    runs.push_back(point("b"));
    runs[0].request.size = 64;
    runs[1].request.size = 128;
    std::vector<std::uint64_t> sizes;
    std::vector<std::optional<double>> scores = {1.0, 2.0, std::nullopt, 4.0};
    const point_runner runner = [&](const run_request& r) {
        sizes.push_back(r.size);
        return scores[sizes.size() - 1];
    };
    const auto o = capture([&](console_sink& sink) { execute_runs(runs, 2, 0, runner, sink); });
    EXPECT_EQ(sizes, (std::vector<std::uint64_t>{64, 64, 128, 128}));
    EXPECT_EQ(o.out, "\n!!HARNESS!! run 1/4\n\n\n!!HARNESS!! run 2/4\n\n"
                     "\n!!HARNESS!! run 3/4\n\n\n!!HARNESS!! run 4/4\n\n");
    EXPECT_EQ(runs[0].scores, (std::vector<std::optional<double>>{1.0, 2.0}));
    EXPECT_EQ(runs[1].scores, (std::vector<std::optional<double>>{std::nullopt, 4.0}));
}

TEST(execute_runs, a_sub_run_that_throws_has_no_score_and_the_sweep_goes_on) {
    run_list runs;
    runs.push_back(point("128"));
    int calls = 0;
    const point_runner runner = [&calls](const run_request&) -> std::optional<double> {
        if (calls++ == 0) {
            throw std::bad_alloc();
        }
        return 7.0;
    };
    const auto o = capture([&](console_sink& sink) { execute_runs(runs, 2, 0, runner, sink); });
    EXPECT_EQ(o.err, "run 128 failed: std::bad_alloc\n");
    EXPECT_EQ(runs[0].scores, (std::vector<std::optional<double>>{std::nullopt, 7.0}));
}

TEST(results_table, average_spread_and_missing_scores) {
    run_list runs(3);
    runs[0].label = "64";
    runs[0].scores = {400.0, 410.0, 405.0};
    runs[1].label = "a-long-label";
    runs[1].scores = {std::nullopt, 12.5, std::nullopt};
    runs[2].label = "none";
    runs[2].scores = {std::nullopt, std::nullopt, std::nullopt};
    const auto o = capture(
        [&](console_sink& sink) { print_results_table(sweep_variable::size, runs, 3, sink); });
    EXPECT_EQ(o.out, "\n!!HARNESS!!\n=====size results=====\n"
                     " size         |    run 1    run 2    run 3 |      avg |  max/min\n" +
                         std::string(12 + 25 + 27, '=') +
                         "\n"
                         " 64           |   400.00   410.00   405.00 |   405.00 |    2.50%\n"
                         " a-long-label |      ---    12.50      --- |    12.50 |    0.00%\n"
                         " none         |      ---      ---      --- |      --- |      ---\n");
}

TEST(results_table, no_sub_runs_gives_no_run_columns) {
    run_list runs(1);
    runs[0].label = "none";
    const auto o = capture(
        [&](console_sink& sink) { print_results_table(sweep_variable::none, runs, 0, sink); });
    EXPECT_EQ(o.out, "\n!!HARNESS!!\n=====none results=====\n"
                     " none     | |      avg |  max/min\n" +
                         std::string(33, '=') +
                         "\n"
                         " none     | |      --- |      ---\n");
}

harness_output run_plan(const harness_request& h, std::uint64_t free_memory = 0) {
    test::fake_script script;
    test::capture_sink sink;
    run_env env = test::fake_env(script, sink);
    env.available_memory = [free_memory] { return free_memory; };
    run_harness(h, run_request{}, env);
    EXPECT_EQ(script.made, 0);
    return {sink.out(), sink.err()};
}

TEST(run_harness, no_sub_runs_plans_and_prints_without_running) {
    const auto o = run_plan(harness_request{.sub_runs = 0});
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, "!!HARNESS!! run values:\nnone\n!!HARNESS!! estimated total time = 0s\n"
                     "\n!!HARNESS!!\n=====none results=====\n"
                     " none     | |      avg |  max/min\n" +
                         std::string(33, '=') + "\n none     | |      --- |      ---\n");
}

TEST(run_harness, unusable_settings_end_with_one_message) {
    struct row {
        sweep_variable variable;
        const char* option;
        std::string err;
    };
    const std::vector<row> rows = {
        {sweep_variable::size, "200-512", "couldn't generate runs for harness for size\t200-512\n"},
        {sweep_variable::isa, "avx-avx2:1",
         "couldn't generate runs for harness for isa\tavx-avx2:1\n"},
        {sweep_variable::duration, "1-4000000000",
         "not enough memory to plan the harness runs for duration\t1-4000000000; aborting\n"},
    };
    for (const auto& r : rows) {
        const auto o = run_plan(harness_request{.variable = r.variable, .option = r.option},
                                std::uint64_t{64} << 30); // 64 GiB free
        EXPECT_EQ(o.err, r.err);
        EXPECT_EQ(o.out, "");
    }
}

// What reached the solvers of each sub-run: edge, steps and thread count per run.
struct reached {
    std::uint64_t edge = 0;
    std::uint64_t steps = 0;
    std::uint32_t threads = 0;
    isa_kind isa{};
    bool operator==(const reached&) const = default;
};

std::vector<reached> sweep_on_fakes(sweep_variable variable, const char* option) {
    test::fake_script script;
    test::capture_sink sink;
    const run_env env = test::fake_env(script, sink);
    const run_request base{.threads = 2, .duration = 2, .size = 64};
    run_harness(
        harness_request{.variable = variable, .option = option, .sub_runs = 1, .pause_ms = 0}, base,
        env);
    std::vector<reached> out(script.runs.load());
    for (const auto& r : script.log) {
        reached& point = out.at(r.run - 1);
        point.edge = r.edge;
        point.steps = r.steps;
        point.isa = r.isa;
        ++point.threads;
    }
    return out;
}

TEST(run_harness, every_sweep_point_reaches_its_run) {
    // A fake step takes 250 ms: a run of d seconds makes 4 d steps.
    struct row {
        sweep_variable variable;
        const char* option;
        std::vector<reached> expected;
    };
    const std::vector<row> rows = {
        {sweep_variable::size, "64,128", {{64, 8, 2, isa_kind::sse2}, {128, 8, 2, isa_kind::sse2}}},
        {sweep_variable::duration,
         "1-3",
         {{64, 4, 2, isa_kind::sse2}, {64, 8, 2, isa_kind::sse2}, {64, 12, 2, isa_kind::sse2}}},
        {sweep_variable::duration,
         "0,1001", // clamped when the run starts
         {{64, 4, 2, isa_kind::sse2}, {64, 4000, 2, isa_kind::sse2}}},
        {sweep_variable::threads, "1,3", {{64, 8, 1, isa_kind::sse2}, {64, 8, 3, isa_kind::sse2}}},
        {sweep_variable::isa,
         "avx2,avx512vl",
         {{64, 8, 2, isa_kind::avx2}, {64, 8, 2, isa_kind::avx512vl}}},
        {sweep_variable::none, "", {{64, 8, 2, isa_kind::sse2}}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(sweep_on_fakes(r.variable, r.option), r.expected)
            << sweep_variable_name(r.variable) << " " << r.option;
    }
}

TEST(results_table, an_empty_plan_has_no_rows) {
    const run_list runs;
    const auto o = capture(
        [&](console_sink& sink) { print_results_table(sweep_variable::threads, runs, 3, sink); });
    EXPECT_EQ(o.out, "\n!!HARNESS!!\n=====threads results=====\n"
                     " threads  |    run 1    run 2    run 3 |      avg |  max/min\n" +
                         std::string(60, '=') + "\n");
    EXPECT_EQ(harness_estimate(runs, 3, 1), 0U);
}

} // namespace
} // namespace kestrix
