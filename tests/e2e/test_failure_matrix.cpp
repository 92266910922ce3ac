// The ways a run of the real binary can go wrong, one row each: what is asked, which stream
// says so, the exit code, and whether a score may appear. Standard output and standard error
// go to files, to a pipe whose reader is gone, or are closed; standard input is empty or closed.
#include "platform/cpu.hpp"
#include "solver/solver.hpp"
#include "support/huge_pages.hpp"
#include "support/run_binary.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <cstdio>

namespace kestrix {
namespace {

using test::run_options;
using test::sink;

enum class where { out, err, either };

// Standard output and error as given; standard input empty, or closed.
run_options streams(sink out, sink err, bool stdin_closed = false) {
    run_options o;
    o.out = out;
    o.err = err;
    o.stdin_closed = stdin_closed;
    return o;
}

bool on_files(const run_options& s) {
    return s.out == sink::file && s.err == sink::file && !s.stdin_closed;
}

// The first instruction set, from the newest, that this processor lacks.
std::optional<std::string> lacking_isa() {
    for (const char* isa :
         {"avx10-2-512", "avx10-2-256", "fma-apx", "avx512vl", "avx512f", "fma", "avx2", "avx"}) {
        if (check_isa_support(*parse_isa_name(isa))) {
            return std::string(isa);
        }
    }
    return std::nullopt;
}

struct row {
    std::string name;
    std::vector<std::string> args;
    run_options io;
    where stream;
    std::vector<std::string> any_of; // one of them appears in that stream
    int exit_code;
    std::optional<bool> score; // "final score" printed; nothing when either is right
    std::string skip;          // why the row cannot run here
    int limit_s = 60;
};

std::vector<std::string> short_run(std::vector<std::string> extra, std::string size = "64") {
    std::vector<std::string> args = {"-d", "1", "-s", std::move(size), "--harness-sub-runs", "1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::vector<row> matrix() {
    const std::optional<std::string> isa = lacking_isa();
    const std::string no_isa = isa ? "" : "this processor has every instruction set";
    const std::string lacking = isa.value_or("sse2");
    const isa_kind lacking_kind = *parse_isa_name(lacking);
    const std::optional<std::string> why = check_isa_support(lacking_kind);
    const std::optional<std::string> not_runnable =
        check_variant_runnable(lacking_kind, workload_kind::standing_wave);
#ifdef _WIN32
    const std::string no_huge = "large pages need the lock-memory privilege";
#else
    const std::string no_huge = test::read_huge_pages() == 0 ? "" : "huge pages are reserved here";
#endif
    const run_options files;
    const run_options no_stdin = streams(sink::file, sink::file, true);
    const run_options out_gone = streams(sink::closed_pipe, sink::file);
    const run_options err_gone = streams(sink::file, sink::closed_pipe);
    const run_options both_gone = streams(sink::closed_pipe, sink::closed_pipe);
    const run_options out_closed = streams(sink::closed, sink::file);
    const run_options err_closed = streams(sink::file, sink::closed);

    std::vector<row> rows = {
        {"grid larger than memory",
         short_run({"-n", "1"}, "2048"),
         files,
         where::err,
         {"field allocation failed in thread 0\n"},
         0,
         false,
         ""},
        {"large pages without reserved pages",
         short_run({"--large-pages", "-n", "1"}),
         files,
         where::err,
         {"field allocation failed in thread 0\n"},
         0,
         false,
         no_huge},
        {"thread bookkeeping beyond memory",
         short_run({"-n", "4000000000"}),
         files,
         where::err,
         {"not enough memory for the bookkeeping of 4000000000 threads; aborting\n"},
         0,
         false,
         ""},
        // One grid beyond the free memory fails in the allocation; on a larger machine the
        // hundred grids together are refused.
        {"threads times grids beyond memory",
         short_run({"-n", "100"}, "1024"),
         files,
         where::err,
         {"field allocation failed in thread ", "100 threads need more than the "},
         0,
         false,
         ""},
        {"more threads than memory allows",
         short_run({"-n", "2000"}, "256"),
         files,
         where::err,
         {"2000 threads need more than the "},
         0,
         false,
         ""},
        {"unsupported instruction set, strict",
         short_run({"-n", "1", "--isa", lacking, "--strict-isa-check"}),
         files,
         where::err,
         {"===========\n  warning  \n===========\n" + why.value_or("") +
          "isa support check failed; aborting\n"},
         0,
         false,
         no_isa},
        {"standard input closed",
         short_run({"-n", "1"}),
         no_stdin,
         where::out,
         {"press enter to exit\n"},
         0,
         true,
         ""},
        {"standard output to a closed pipe",
         short_run({"-n", "1"}),
         out_gone,
         where::err,
         {""},
         0,
         std::nullopt,
         ""},
        {"standard error to a closed pipe",
         short_run({"-n", "1", "--isa", lacking, "--strict-isa-check"}),
         err_gone,
         where::out,
         {"press enter to exit\n"},
         0,
         false,
         no_isa},
        {"both streams to closed pipes, bad option",
         {"--bogus"},
         both_gone,
         where::out,
         {""},
         1,
         std::nullopt,
         ""},
        {"standard output closed",
         short_run({"-n", "1", "--isa", lacking, "--strict-isa-check"}),
         out_closed,
         where::err,
         {"isa support check failed; aborting\n"},
         0,
         std::nullopt,
         no_isa},
        {"standard error closed, bad size",
         {"-s", "7"},
         err_closed,
         where::out,
         {""},
         1,
         false,
         ""},
        // Far more threads than cores: a valid result or the timers' verdict, never a hang.
        {"64 threads",
         {"-n", "64", "-s", "64", "-d", "2", "--harness-sub-runs", "1"},
         files,
         where::either,
         {"final score: ", "disagreement between timers for total work is larger than tolerance"},
         0,
         std::nullopt,
         ""},
        {"long sweep",
         {"--harness-var", "size", "--harness-opt", "64,128", "--harness-sub-runs", "5", "-d", "1"},
         files,
         where::out,
         {"=====size results=====\n"},
         0,
         true,
         "",
         180},
    };
    // Without the strict check the run goes on with the variant, if its code can execute here.
    if (not_runnable) {
        rows.push_back({"unsupported instruction set, lenient",
                        short_run({"-n", "1", "--isa", lacking}),
                        files,
                        where::err,
                        {"the " + lacking + " solver cannot execute on this processor"},
                        0,
                        false,
                        no_isa});
    } else {
        rows.push_back({"unsupported instruction set, lenient",
                        short_run({"-n", "1", "--isa", lacking}),
                        files,
                        where::err,
                        {"===========\n  warning  \n===========\n" + why.value_or("")},
                        0,
                        true,
                        no_isa});
    }
    return rows;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

TEST(failure_matrix, every_row_ends_as_stated) {
    for (const row& r : matrix()) {
        if (!r.skip.empty()) {
            std::printf("skipped: %s (%s)\n", r.name.c_str(), r.skip.c_str());
            continue;
        }
        run_options io = r.io;
        io.limit_s = r.limit_s;
        const test::process_result p = test::run_kestrix(r.args, io);
        EXPECT_FALSE(p.hung) << r.name;
        EXPECT_FALSE(p.signaled) << r.name << ": signal " << p.exit_code;
        EXPECT_EQ(p.exit_code, r.exit_code) << r.name << "\n" << p.err;

        const std::string& text =
            r.stream == where::out ? p.out : (r.stream == where::err ? p.err : p.out + p.err);
        bool found = false;
        for (const auto& part : r.any_of) {
            found = found || has(text, part);
        }
        EXPECT_TRUE(found) << r.name << ": none of the expected texts in\n" << text;

        const bool scored = has(p.out, "final score: ");
        if (r.score && r.io.out == sink::file) {
            EXPECT_EQ(scored, *r.score) << r.name << "\n" << p.out << p.err;
        }
        // Every score follows its own valid-result banner: a run reported invalid never scores
        // (a sweep may hold both kinds of sub-run).
        if (r.io.out == sink::file) {
            EXPECT_EQ(count(p.out, "final score: "), count(p.out, "\n  valid result \n"))
                << r.name << "\n"
                << p.out;
        }
        // A stream that is not on a file brings nothing back.
        if (r.io.out != sink::file) {
            EXPECT_EQ(p.out, "") << r.name;
        }
        if (r.io.err != sink::file) {
            EXPECT_EQ(p.err, "") << r.name;
        }
        if (r.exit_code == 1 && r.io.out == sink::file) {
            EXPECT_EQ(p.out, "") << r.name;
        }
        if (on_files(r.io) && r.exit_code == 0) {
            EXPECT_TRUE(p.out.ends_with("press enter to exit\n")) << r.name;
        }
    }
}

// A run past its time limit is killed and reported as hung: a row that hangs fails on its own
// instead of stalling the whole test program.
TEST(failure_matrix, a_run_past_its_limit_is_killed_as_hung) {
    run_options io;
    io.limit_s = 1;
    const auto start = std::chrono::steady_clock::now();
    const test::process_result p =
        test::run_kestrix({"-d", "60", "-s", "64", "-n", "1", "--harness-sub-runs", "1"}, io);
    EXPECT_TRUE(p.hung);
    EXPECT_FALSE(p.signaled);
    EXPECT_EQ(p.exit_code, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

} // namespace
} // namespace kestrix
