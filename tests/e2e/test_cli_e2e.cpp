// The real binary: exit codes, which stream carries what, and the order of the modes.
#include "cli/help_golden.hpp"
#include "console/animation.hpp"
#include "support/run_binary.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace kestrix {
namespace {

using test::process_result;
using test::run_kestrix;

const std::string sizes = "64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192";
const std::string workloads = "standing_wave, soft_gaussian";
const std::string isas =
    "sse2, avx, avx2, fma, fma-apx, avx512f, avx512vl, avx10-2-256, avx10-2-512";

std::string program_file_name() {
    const std::string path = test::kestrix_path();
    return path.substr(path.find_last_of("\\/") + 1);
}

struct rejection_row {
    std::vector<std::string> args;
    std::string err; // the whole of standard error
};

class Rejected : public ::testing::TestWithParam<rejection_row> {};

TEST_P(Rejected, OneMessageOnStandardErrorAndExitCode1) {
    const auto& row = GetParam();
    const process_result r = run_kestrix(row.args);
    EXPECT_FALSE(r.signaled);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, row.err + "\n");
}

const rejection_row rejection_rows[] = {
    {{"--size", "7", "--help"}, "Invalid size '7', must be one of: " + sizes},
    {{"--size", "200"}, "Invalid size '200', must be one of: " + sizes},
    {{"-s", "0"}, "Invalid size '0', must be one of: " + sizes},
    {{"-s", "18446744073709551615"},
     "Invalid size '18446744073709551615', must be one of: " + sizes},
    {{"-s", "7", "--workload", "x", "--isa", "y"}, "Invalid size '7', must be one of: " + sizes},
    {{"--workload", "Standing_wave", "--isa", "y"},
     "Invalid workload name 'Standing_wave', must be one of: " + workloads},
    {{"--workload", ""}, "Invalid workload name '', must be one of: " + workloads},
    {{"--isa", "AVX2"}, "Invalid isa name 'AVX2', must be one of: " + isas},
    {{"--isa", "foo", "--help"}, "Invalid isa name 'foo', must be one of: " + isas},
    {{"--isa", "foo", "--topo-debug"}, "Invalid isa name 'foo', must be one of: " + isas},
    {{"junk", "-h"}, "Unrecognized token: junk"},
    {{""}, "Unrecognized token: "},
    {{"/?"}, "Unrecognized token: /?"},
    // Quotes, blanks and backslashes reach the program as they are.
    {{R"("a b" c\\"d\)"}, R"(Unrecognized token: "a b" c\\"d\)"},
    {{"--dur", "5"}, "Unrecognized token: --dur"},
    {{"-s", "64", "-s", "128"}, "Unrecognized token: -s"},
    {{"--duration="}, "Unable to convert '' to destination type"},
    {{"-d", "4294967296"}, "Unable to convert '4294967296' to destination type"},
    {{"-d"}, "Expected argument following -d"},
    {{"--large-pages=1"}, "Flag option '--large-pages' contains value '1'."},
    {{"--large-pages", "1"}, "Unrecognized token: 1"},
    {{"--threading", "NUMA"}, "Value 'NUMA' not expected. Allowed values are: os, numa, phte"},
    {{"--harness-var", "thread"},
     "Value 'thread' not expected. Allowed values are: none, size, duration, threads, isa"},
    {{"--isa", "foo", "--kestrix=1"}, "Flag option '--kestrix' contains value '1'."},
};

INSTANTIATE_TEST_SUITE_P(CommandLines, Rejected, ::testing::ValuesIn(rejection_rows));

TEST(CliEndToEnd, HelpIsExactOnStandardOutput) {
    const std::string expected = test::expected_help(program_file_name());
    const std::vector<std::vector<std::string>> lines = {
        {"-h"},
        {"-?"},
        {"--help"},
        {"-h", "junk"},
        {"--help", "--size", "100"},
        {"--help", "--kestrix"},
        {"-s", "64", "--isa", "avx2", "--workload", "soft_gaussian", "-h"},
    };
    for (const auto& args : lines) {
        const process_result r = run_kestrix(args);
        EXPECT_EQ(r.exit_code, 0) << args[0];
        EXPECT_EQ(r.err, "") << args[0];
        EXPECT_EQ(r.out, expected) << args[0];
    }
}

TEST(CliEndToEnd, LongAndManyArgumentsEndWithOneMessage) {
#ifdef _WIN32
    const std::size_t long_size = 30000; // a command line holds at most 32767 characters
    const int many = 2000;
#else
    const std::size_t long_size = 100000;
    const int many = 5000;
#endif
    const std::string name(long_size, 'q');
    process_result r = run_kestrix({"--isa=" + name});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Invalid isa name '" + name + "', must be one of: " + isas + "\n");

    std::vector<std::string> args{"-s", "64"};
    for (int i = 0; i < many; ++i) {
        args.push_back("--topo-debug");
    }
    r = run_kestrix(args);
    EXPECT_FALSE(r.signaled);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Unrecognized token: --topo-debug\n");
}

TEST(CliEndToEnd, BytesThatAreNotUtf8AreEchoedUnchanged) {
    const process_result r = run_kestrix({"--isa", "\xff\xfe\x80"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Invalid isa name '\xff\xfe\x80', must be one of: " + isas + "\n");
    const process_result u = run_kestrix({"\xc3\x28"});
    EXPECT_EQ(u.exit_code, 1);
    EXPECT_EQ(u.err, "Unrecognized token: \xc3\x28\n");
}

TEST(CliEndToEnd, AnimationComesFirstAndRedirectedIsSeventeenFrames) {
    std::string expected;
    for (int round = 0; round < 4; ++round) {
        for (const auto frame : animation_frames) {
            expected += frame;
        }
    }
    expected += std::string(animation_frames[3]) + "\n";

    const auto start = std::chrono::steady_clock::now();
    const process_result r = run_kestrix({"--kestrix", "--size", "7", "--help", "--isa", "x"});
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 17 * 7 + 1);
    EXPECT_EQ(r.out, expected);
    // Sixteen frames held for 400 ms each.
    EXPECT_GE(elapsed, std::chrono::milliseconds(6400));
}

TEST(CliEndToEnd, TopologyBeforeTimerReport) {
    const process_result topo = run_kestrix({"--topo-debug"});
    const process_result both = run_kestrix({"--timer-debug", "--topo-debug"});
    const process_result timer = run_kestrix({"--timer-debug"});
    EXPECT_EQ(topo.exit_code, 0);
    EXPECT_EQ(both.exit_code, 0);
    EXPECT_EQ(timer.exit_code, 0);
    EXPECT_EQ(both.out, topo.out);
    EXPECT_NE(timer.out, topo.out);
    EXPECT_EQ(topo.out.find("press enter to exit"), std::string::npos);
}

} // namespace
} // namespace kestrix
