// The real binary on short benchmark runs: thread counts, placements, large pages, harness
// sweeps, and the ends of runs that cannot be performed.
#include "support/huge_pages.hpp"
#include "support/run_binary.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace kestrix {
namespace {

using test::process_result;
using test::run_kestrix;

const std::vector<std::string> short_run = {"-d", "1", "-s", "64", "--harness-sub-runs", "1"};

std::vector<std::string> with(std::vector<std::string> extra) {
    std::vector<std::string> args = short_run;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// Every expected line appears in order (others may come between).
::testing::AssertionResult lines_in_order(const std::string& text,
                                          const std::vector<std::string>& lines) {
    std::size_t at = 0;
    for (const auto& line : lines) {
        const auto found = text.find(line, at);
        if (found == std::string::npos) {
            return ::testing::AssertionFailure() << "missing (in order) \"" << line << "\" in:\n"
                                                 << text;
        }
        at = found + line.size();
    }
    return ::testing::AssertionSuccess();
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// Rows of the per-thread table: the lines between its header and the result banner.
std::size_t table_rows(const std::string& out) {
    const auto header = out.find("thread  grid updates");
    const auto banner = out.find("===============\n", header);
    if (header == std::string::npos || banner == std::string::npos) {
        return 0;
    }
    return occurrences(out.substr(header, banner - header), "\n") - 1;
}

TEST(run_e2e, short_runs_with_each_thread_count_and_placement) {
    struct row {
        std::vector<std::string> args;
        std::string header;
        std::size_t table_rows;
    };
    const std::vector<row> rows = {
        {{"-n", "1"}, "running with 1 thread (os)\n", 1},
        {{"-n", "2"}, "running with 2 threads (os)\n", 2},
        {{"-n", "2", "--threading", "numa"}, "running with 2 threads (numa)\n", 2},
        {{"-n", "2", "--threading", "phte"}, "running with 2 threads (phte)\n", 2},
    };
    for (const auto& r : rows) {
        const process_result p = run_kestrix(with(r.args));
        ASSERT_FALSE(p.signaled) << p.err;
        EXPECT_EQ(p.exit_code, 0);
        EXPECT_EQ(p.err, "");
        EXPECT_TRUE(lines_in_order(
            p.out,
            {"!!HARNESS!! run values:\nnone\n!!HARNESS!! estimated total time = 1s\n",
             "\n!!HARNESS!! run 1/1\n\n", r.header, "64 x 64 x 64 grid\n", "17.55 MiB per thread\n",
             "Fast Timer Frequency: ", "\nCoarse Timer Frequency: ", "\nallocating fields.... \n",
             "initalizing fields...\n", "initialization took ", "starting bench..\n",
             // Only a lone worker is sure to show nothing done yet: other workers
             // may already step while worker 0 announces the start.
             r.table_rows == 1 ? "\rbenchmarking... 0/1s                0 MGups  0 iterations"
                               : "\rbenchmarking... 0/1s ",
             "\nvalidating result..\n", "thread  grid updates   time",
             "===============\n  valid result \n", "kestrix v1.4.0 standing_wave sse2\n",
             "final score: ", "\n!!HARNESS!!\n=====none results=====\n", " none     |    run 1 |",
             "press enter to exit\n"}));
        EXPECT_EQ(table_rows(p.out), r.table_rows) << p.out;
        EXPECT_EQ(occurrences(p.out, " | ---"), 0U);
    }
}

TEST(run_e2e, standard_input_at_end_of_file_ends_the_wait_at_once) {
    for (const bool closed : {false, true}) {
        test::run_options opt;
        opt.stdin_closed = closed;
        const process_result p = run_kestrix(with({"-n", "1"}), opt);
        EXPECT_EQ(p.exit_code, 0);
        EXPECT_FALSE(p.signaled);
        EXPECT_TRUE(p.out.ends_with("press enter to exit\n"));
    }
}

#ifndef _WIN32
using test::read_huge_pages;
using test::write_huge_pages;
#endif

TEST(run_e2e, large_pages_without_reserved_pages_fail_every_worker) {
#ifdef _WIN32
    GTEST_SKIP() << "large pages need the lock-memory privilege";
#else
    if (read_huge_pages() != 0) {
        GTEST_SKIP() << "huge pages are reserved on this machine";
    }
    const process_result p = run_kestrix(with({"-n", "2", "--large-pages"}));
    EXPECT_EQ(p.exit_code, 0);
    EXPECT_FALSE(p.signaled);
    EXPECT_TRUE(lines_in_order(p.out, {"allocating fields.... (large pages)\n",
                                       " none     |      --- |      --- |      ---\n",
                                       "press enter to exit\n"}));
    EXPECT_NE(p.err.find("field allocation failed in thread 0\n"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("field allocation failed in thread 1\n"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("  invalid result \n"), std::string::npos);
    EXPECT_EQ(p.out.find("initalizing fields"), std::string::npos);
#endif
}

TEST(run_e2e, forty_workers_without_huge_pages_each_report_their_failure) {
#ifdef _WIN32
    GTEST_SKIP() << "large pages need the lock-memory privilege";
#else
    if (read_huge_pages() != 0) {
        GTEST_SKIP() << "huge pages are reserved on this machine";
    }
    for (int round = 0; round < 3; ++round) {
        const process_result p = run_kestrix(with({"-n", "40", "--large-pages"}));
        EXPECT_EQ(p.exit_code, 0);
        EXPECT_EQ(occurrences(p.out, "allocating fields.... (large pages)\n"), 1U) << p.out;
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(
                occurrences(p.err, "field allocation failed in thread " + std::to_string(i) + "\n"),
                1U)
                << "round " << round << ", worker " << i << "\n"
                << p.err;
        }
        EXPECT_EQ(occurrences(p.err, "field allocation failed in thread "), 40U);
    }
#endif
}

TEST(run_e2e, large_pages_with_reserved_pages_run) {
#ifdef _WIN32
    GTEST_SKIP() << "large pages need the lock-memory privilege";
#else
    const long before = read_huge_pages();
    // Two arrays of 9.2 MB in 2 MiB pages, with room to spare.
    if (before < 0 || !write_huge_pages(before + 16)) {
        GTEST_SKIP() << "huge pages cannot be reserved here";
    }
    const process_result p = run_kestrix(with({"-n", "1", "--large-pages"}));
    write_huge_pages(before);
    EXPECT_EQ(p.exit_code, 0);
    EXPECT_EQ(p.err, "");
    EXPECT_TRUE(lines_in_order(
        p.out, {"allocating fields.... (large pages)\n", "  valid result \n", "final score: "}));
#endif
}

TEST(run_e2e, harness_sweeps_run_every_point) {
    struct row {
        std::vector<std::string> args;
        std::vector<std::string> labels;
        std::string variable;
    };
    const std::vector<row> rows = {
        {{"-n", "1", "--harness-var", "size", "--harness-opt", "64"}, {"64"}, "size"},
        {{"-n", "1", "--harness-var", "duration", "--harness-opt", "1,0"}, {"1", "0"}, "duration"},
        {{"--harness-var", "threads", "--harness-opt", "1,2"}, {"1", "2"}, "threads"},
        {{"-n", "1", "--harness-var", "isa", "--harness-opt", "sse2"}, {"sse2"}, "isa"},
    };
    for (const auto& r : rows) {
        const process_result p = run_kestrix(with(r.args));
        EXPECT_EQ(p.exit_code, 0);
        EXPECT_EQ(p.err, "") << r.variable;
        std::vector<std::string> expected = {"!!HARNESS!! run values:\n"};
        for (const auto& label : r.labels) {
            expected.push_back(label + "\n");
        }
        expected.push_back("!!HARNESS!! estimated total time = ");
        for (std::size_t k = 1; k <= r.labels.size(); ++k) {
            expected.push_back("!!HARNESS!! run " + std::to_string(k) + "/" +
                               std::to_string(r.labels.size()) + "\n");
            expected.push_back("final score: ");
        }
        expected.push_back("=====" + r.variable + " results=====\n");
        for (const auto& label : r.labels) {
            expected.push_back("\n " + label);
        }
        expected.push_back("press enter to exit\n");
        EXPECT_TRUE(lines_in_order(p.out, expected));
    }
}

TEST(run_e2e, requests_beyond_memory_end_cleanly) {
    struct row {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<row> rows = {
        {{"-d", "1", "-n", "4000000000"},
         "not enough memory for the bookkeeping of 4000000000 threads; aborting\n"},
        {{"--harness-var", "duration", "--harness-opt", "1-4000000000"},
         "not enough memory to plan the harness runs for duration\t1-4000000000; aborting\n"},
        {{"-d", "1", "-n", "100000", "--harness-sub-runs", "1"},
         "100000 threads need more than the "},
        {{"-d", "1", "-n", "1", "-s", "8192", "--harness-sub-runs", "1"},
         "field allocation failed in thread 0\n"},
    };
    for (const auto& r : rows) {
        const process_result p = run_kestrix(r.args);
        EXPECT_EQ(p.exit_code, 0);
        EXPECT_FALSE(p.signaled);
        EXPECT_NE(p.err.find(r.err), std::string::npos) << p.err;
        EXPECT_TRUE(p.out.ends_with("press enter to exit\n"));
    }
}

} // namespace
} // namespace kestrix
