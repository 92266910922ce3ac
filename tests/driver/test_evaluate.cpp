// The evaluation of a finished run and the progress line.
#include "driver/evaluate.hpp"
#include "driver/progress.hpp"
#include "support/capture_sink.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

namespace kestrix {
namespace {

struct evaluation {
    std::optional<double> score;
    std::string out;
    std::string err;
};

evaluation evaluate(const run_state& state) {
    test::capture_sink sink;
    const run_request request{.workload = workload_kind::soft_gaussian, .isa = isa_kind::avx2};
    evaluation e;
    e.score = evaluate_run(state, request, "Brand X", sink);
    e.out = sink.out();
    e.err = sink.err();
    return e;
}

run_state state_with(std::vector<thread_result> results) {
    run_state s;
    s.count = static_cast<std::uint32_t>(results.size());
    s.results = std::move(results);
    return s;
}

const std::string invalid_banner = "==================\n  invalid result \n==================\n";

TEST(evaluate_run, the_timer_tolerance_is_32_ms) {
    struct row {
        std::int64_t fast_us;
        std::int64_t coarse_ms;
        bool valid;
    };
    for (const row r :
         {row{30031999, 30000, true}, row{30032000, 30000, false}, row{29969000, 30000, true},
          row{29968999, 30000, false}, row{30000000, 30000, true}, row{-1000, INT64_MAX, false},
          row{INT64_MIN, INT64_MAX, false}}) {
        const evaluation e = evaluate(state_with({{0, r.coarse_ms, r.fast_us, 10, 1000}}));
        EXPECT_EQ(e.score.has_value(), r.valid) << r.fast_us << " vs " << r.coarse_ms;
        if (!r.valid) {
            EXPECT_EQ(e.err, invalid_banner +
                                 "disagreement between timers for total work is larger than "
                                 "tolerance\n" +
                                 fmt::format("fast timer = {}ms    coarse timer = {}ms\n",
                                             r.fast_us / 1000, r.coarse_ms));
            EXPECT_EQ(e.out.find("valid result"), std::string::npos);
        }
    }
}

TEST(evaluate_run, only_the_first_disagreeing_worker_is_reported) {
    const evaluation e = evaluate(
        state_with({{0, 1000, 1000000, 1, 1}, {1, 1000, 1050000, 1, 1}, {2, 1000, 1100000, 1, 1}}));
    EXPECT_FALSE(e.score);
    EXPECT_NE(e.err.find("fast timer = 1050ms    coarse timer = 1000ms\n"), std::string::npos);
    EXPECT_EQ(e.err.find("1100ms"), std::string::npos);
    EXPECT_NE(e.out.find("thread"), std::string::npos); // the table is printed first
}

TEST(evaluate_run, score_formats) {
    struct row {
        double score;
        const char* text;
    };
    for (const row r :
         {row{100.0, "100 MGups"}, row{100.004, "100.00 MGups"}, row{5.123456, "5.123 MGups"},
          row{1234.567, "1234.57 MGups"}, row{0.0, "0 MGups"}, row{99.99, "99.99 MGups"}}) {
        EXPECT_EQ(format_score(r.score), r.text);
    }
}

TEST(evaluate_run, a_valid_run_prints_the_table_banner_and_score) {
    // 2e9 updates in 2 s and 3e9 in 1.5 s: 1000 + 2000 MGups, in result-list order.
    const evaluation e = evaluate(
        state_with({{3, 2000, 2000000, 7, 2000000000}, {0, 1500, 1500000, 12, 3000000000}}));
    ASSERT_TRUE(e.score);
    EXPECT_DOUBLE_EQ(*e.score, 3000.0);
    EXPECT_EQ(e.err, "");
    EXPECT_EQ(e.out, "thread  grid updates   time    MGups  iterations\n"
                     "     3    2000000000  2.00s  1000.00           7\n"
                     "     0    3000000000  1.50s  2000.00          12\n"
                     "===============\n"
                     "  valid result \n"
                     "===============\n"
                     "kestrix v1.4.0 soft_gaussian avx2\n"
                     "Brand X\n"
                     "final score: 3000.00 MGups\n");
}

TEST(evaluate_run, columns_grow_with_their_longest_cell) {
    const evaluation e = evaluate(state_with({{0, 30000, 30000000, 5, 1234567890123}}));
    const auto header = e.out.substr(0, e.out.find('\n'));
    EXPECT_EQ(header, "thread   grid updates    time     MGups  iterations");
    EXPECT_NE(e.out.find("     0  1234567890123  30.00s  41152.26           5\n"),
              std::string::npos)
        << e.out;
}

TEST(evaluate_run, one_worker_scores_its_own_rate) {
    const evaluation e = evaluate(state_with({{0, 1000, 1000000, 3, 5123456}}));
    ASSERT_TRUE(e.score);
    EXPECT_DOUBLE_EQ(*e.score, 5.123456);
    EXPECT_NE(e.out.find("final score: 5.123 MGups\n"), std::string::npos);
}

TEST(evaluate_run, a_stopped_run_or_missing_results_have_no_score) {
    run_state stopped = state_with({{0, 1000, 1000000, 3, 5}});
    stopped.stopped = true;
    const evaluation a = evaluate(stopped);
    EXPECT_FALSE(a.score);
    EXPECT_EQ(a.err, invalid_banner);
    EXPECT_EQ(a.out, ""); // no table

    run_state missing = state_with({{0, 1000, 1000000, 3, 5}});
    missing.count = 2;
    const evaluation b = evaluate(missing);
    EXPECT_FALSE(b.score);
    EXPECT_EQ(b.err, invalid_banner + "not all threads produced a result\n");
    EXPECT_EQ(b.out, "");

    run_state none = state_with({});
    none.count = 1;
    EXPECT_FALSE(evaluate(none).score);
}

TEST(progress_line, sums_rates_and_shows_the_fastest_worker) {
    struct row {
        std::int64_t elapsed;
        std::uint32_t duration;
        std::vector<std::pair<std::uint64_t, double>> slots;
        std::string text;
    };
    const std::vector<row> rows = {
        {0, 30, {{0, 0.0}}, "\rbenchmarking... 0/30s                0 MGups  0 iterations"},
        {12,
         30,
         {{10, 1.5}, {14, 2.25}, {3, 0.0}, {12, 1.0}},
         "\rbenchmarking... 12/30s             4.75 MGups  14 iterations"},
        {1000,
         1000,
         {{18446744073709551615ULL, 123456.789}},
         "\rbenchmarking... 1000/1000s        1.235e+05 MGups  18446744073709551615 iterations"},
        {5, 10, {}, "\rbenchmarking... 5/10s                0 MGups  0 iterations"},
    };
    fmt::memory_buffer buffer;
    for (const auto& r : rows) {
        std::vector<progress_slot> slots(r.slots.size());
        for (std::size_t i = 0; i < r.slots.size(); ++i) {
            slots[i].iterations = r.slots[i].first;
            slots[i].mgups = r.slots[i].second;
        }
        format_progress(buffer, r.elapsed, r.duration, slots);
        EXPECT_EQ(std::string(buffer.data(), buffer.size()), r.text);
    }
}

TEST(progress_line, is_written_without_a_newline) {
    std::vector<progress_slot> slots(2);
    slots[1].iterations = 4;
    slots[1].mgups = 10.0;
    test::capture_sink sink;
    print_progress(sink, 3, 5, slots);
    print_progress(sink, 4, 5, slots);
    EXPECT_EQ(sink.out(), "\rbenchmarking... 3/5s               10 MGups  4 iterations"
                          "\rbenchmarking... 4/5s               10 MGups  4 iterations");
}

} // namespace
} // namespace kestrix
