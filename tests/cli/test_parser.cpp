#include "cli/parser.hpp"
#include "options/table.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace kestrix {
namespace {

struct targets {
    bench_config config;
    harness_settings harness;
    mode_flags modes;
};

// Every target in one text, so a row's expectation also catches fields it did not mean to touch.
std::string describe(const targets& t) {
    const auto& c = t.config;
    const auto& h = t.harness;
    const auto& m = t.modes;
    return fmt::format("threads={} duration={} size={} threading='{}' workload='{}' isa='{}' "
                       "strict={} large={} bypass={} | sub_runs={} var='{}' opt='{}' | help={} "
                       "topo={} timer={} anim={}",
                       c.threads, c.duration, c.size, c.threading, c.workload, c.isa,
                       c.strict_isa_check, c.large_pages, c.bypass_timer_check, h.sub_runs,
                       h.variable, h.option_string, m.show_help, m.topo_debug, m.timer_debug,
                       m.play_animation);
}

struct parse_row {
    std::vector<std::string> args; // without the program name
    std::string failure;           // empty: the parse succeeds
    std::function<void(targets&)> stored = [](targets&) {};
};

class ParseTable : public ::testing::TestWithParam<parse_row> {};

TEST_P(ParseTable, OutcomeAndStoredValues) {
    const parse_row& row = GetParam();
    targets actual;
    option_table table = build_option_table(actual.config, actual.harness, actual.modes);
    std::vector<std::string_view> argv{"kestrix"};
    for (const auto& a : row.args) {
        argv.emplace_back(a);
    }
    const parse_outcome outcome = parse(table, argv);

    EXPECT_EQ(outcome.failure.value_or(""), row.failure);
    if (row.failure.empty()) {
        EXPECT_TRUE(outcome.ok());
        targets expected;
        row.stored(expected);
        EXPECT_EQ(describe(actual), describe(expected));
    }
}

const std::string allowed_threading = "Allowed values are: os, numa, phte";
const std::string allowed_var = "Allowed values are: none, size, duration, threads, isa";

const parse_row parse_rows[] = {
    {{}, ""},
    // the five ways of giving a value
    {{"--duration=45"}, "", [](targets& t) { t.config.duration = 45; }},
    {{"--duration", "45"}, "", [](targets& t) { t.config.duration = 45; }},
    {{"-d45"}, "", [](targets& t) { t.config.duration = 45; }},
    {{"-d=45"}, "", [](targets& t) { t.config.duration = 45; }},
    {{"-d", "45"}, "", [](targets& t) { t.config.duration = 45; }},
    {{"-d 45"}, "", [](targets& t) { t.config.duration = 45; }},
    {{"--size 256"}, "", [](targets& t) { t.config.size = 256; }},
    {{"--isa=a b"}, "", [](targets& t) { t.config.isa = "a b"; }},
    {{"--isa a=b"}, "", [](targets& t) { t.config.isa = "a=b"; }},
    {{"--duration=4=5"}, "Unable to convert '4=5' to destination type"},
    // missing values
    {{"--duration"}, "Expected argument following --duration"},
    {{"-d"}, "Expected argument following -d"},
    {{"-s", "64", "--isa"}, "Expected argument following --isa"},
    // the next argument is a value whatever it looks like
    {{"--duration", "-5"}, "Unable to convert '-5' to destination type"},
    {{"-d", "--size"}, "Unable to convert '--size' to destination type"},
    {{"--isa", "--help"}, "", [](targets& t) { t.config.isa = "--help"; }},
    // number conversion
    {{"--duration="}, "Unable to convert '' to destination type"},
    {{"-d", ""}, "Unable to convert '' to destination type"},
    {{"-d", "007"}, "", [](targets& t) { t.config.duration = 7; }},
    {{"-d", "+5"}, "Unable to convert '+5' to destination type"},
    {{"-d", "5 "}, "Unable to convert '5 ' to destination type"},
    {{"-d", " 5"}, "Unable to convert ' 5' to destination type"},
    {{"-d", "1e3"}, "Unable to convert '1e3' to destination type"},
    {{"-d", "0x10"}, "Unable to convert '0x10' to destination type"},
    {{"-sd"}, "Unable to convert 'd' to destination type"},
    {{"-d", "4294967295"}, "", [](targets& t) { t.config.duration = 4294967295u; }},
    {{"-d", "4294967296"}, "Unable to convert '4294967296' to destination type"},
    {{"-n", "99999999999999999999999"},
     "Unable to convert '99999999999999999999999' to destination type"},
    {{"-s", "4294967296"}, "", [](targets& t) { t.config.size = 4294967296u; }},
    {{"-s", "18446744073709551615"}, "", [](targets& t) { t.config.size = UINT64_MAX; }},
    {{"-s", "18446744073709551616"},
     "Unable to convert '18446744073709551616' to destination type"},
    {{"-s", "0"}, "", [](targets& t) { t.config.size = 0; }},
    {{"--harness-sub-runs", "0"}, "", [](targets& t) { t.harness.sub_runs = 0; }},
    {{"-n", "12", "-d", "0", "-s", "7"},
     "",
     [](targets& t) {
         t.config.threads = 12;
         t.config.duration = 0;
         t.config.size = 7;
     }},
    // allowed values
    {{"--threading", "numa"}, "", [](targets& t) { t.config.threading = "numa"; }},
    {{"--threading=phte"}, "", [](targets& t) { t.config.threading = "phte"; }},
    {{"--threading", "NUMA"}, "Value 'NUMA' not expected. " + allowed_threading},
    {{"--threading="}, "Value '' not expected. " + allowed_threading},
    {{"--harness-var", "threads"}, "", [](targets& t) { t.harness.variable = "threads"; }},
    {{"--harness-var", "thread"}, "Value 'thread' not expected. " + allowed_var},
    // text values are not checked by the parser
    {{"--isa", "foo", "--workload", "foo"},
     "",
     [](targets& t) {
         t.config.isa = "foo";
         t.config.workload = "foo";
     }},
    {{"--workload", ""}, "", [](targets& t) { t.config.workload = ""; }},
    {{"--harness-opt=", "--harness-var=size"}, "", [](targets& t) { t.harness.variable = "size"; }},
    {{"--harness-opt", "64,128"}, "", [](targets& t) { t.harness.option_string = "64,128"; }},
    // flags
    {{"--large-pages=1"}, "Flag option '--large-pages' contains value '1'."},
    {{"--large-pages="}, "Flag option '--large-pages' contains value ''."},
    {{"--large-pages x"}, "Flag option '--large-pages' contains value 'x'."},
    {{"-h=1"}, "Flag option '-h' contains value '1'."},
    {{"--large-pages", "1"}, "Unrecognized token: 1"},
    {{"--strict-isa-check", "--large-pages", "--bypass-timer-check", "--topo-debug",
      "--timer-debug", "--kestrix"},
     "",
     [](targets& t) {
         t.config.strict_isa_check = t.config.large_pages = t.config.bypass_timer_check = true;
         t.modes.topo_debug = t.modes.timer_debug = t.modes.play_animation = true;
     }},
    // unrecognized tokens
    {{"--dur", "5"}, "Unrecognized token: --dur"},
    {{"--Size", "64"}, "Unrecognized token: --Size"},
    {{"foo"}, "Unrecognized token: foo"},
    {{"-"}, "Unrecognized token: -"},
    {{"--"}, "Unrecognized token: --"},
    {{"---size"}, "Unrecognized token: ---size"},
    {{"-x"}, "Unrecognized token: -x"},
    {{"/?"}, "Unrecognized token: /?"},
    {{""}, "Unrecognized token: "},
    {{"-s", "64", "", "-d", "5"}, "Unrecognized token: "},
    {{"\xff\xfe--size"}, "Unrecognized token: \xff\xfe--size"},
    {{"--\xff"}, "Unrecognized token: --\xff"},
    // each option at most once
    {{"-s", "64", "-s", "128"}, "Unrecognized token: -s"},
    {{"-s", "64", "--size", "128"}, "Unrecognized token: --size"},
    {{"--kestrix", "--kestrix"}, "Unrecognized token: --kestrix"},
    // the help option stops the parse
    {{"-h", "junk"}, "", [](targets& t) { t.modes.show_help = true; }},
    {{"-?", "--size=bad"}, "", [](targets& t) { t.modes.show_help = true; }},
    {{"-?h"}, "", [](targets& t) { t.modes.show_help = true; }},
    {{"junk", "-h"}, "Unrecognized token: junk"},
    {{"--size", "7", "--help"},
     "",
     [](targets& t) {
         t.config.size = 7;
         t.modes.show_help = true;
     }},
    {{"--help", "--size", "100"}, "", [](targets& t) { t.modes.show_help = true; }},
    {{"--kestrix", "--help"},
     "",
     [](targets& t) { t.modes.play_animation = t.modes.show_help = true; }},
    {{"--help", "--kestrix"}, "", [](targets& t) { t.modes.show_help = true; }},
};

INSTANTIATE_TEST_SUITE_P(Options, ParseTable, ::testing::ValuesIn(parse_rows));

TEST(Parse, ProgramNameIsTheLastPathComponent) {
    const struct {
        std::vector<std::string_view> argv;
        std::string name;
    } rows[] = {
        {{"kestrix"}, "kestrix"},
        {{"/usr/local/bin/kestrix", "-h"}, "kestrix"},
        {{"D:\\bench\\kestrix.exe"}, "kestrix.exe"},
        {{"C:/a\\b/k.exe"}, "k.exe"},
        {{"dir/"}, ""},
        {{}, ""},
    };
    for (const auto& row : rows) {
        targets t;
        option_table table = build_option_table(t.config, t.harness, t.modes);
        EXPECT_EQ(table.program_name, "<executable>");
        EXPECT_TRUE(parse(table, row.argv).ok());
        EXPECT_EQ(table.program_name, row.name);
    }
}

TEST(Parse, ArgcArgvWithoutElements) {
    targets t;
    option_table table = build_option_table(t.config, t.harness, t.modes);
    EXPECT_TRUE(parse(table, 0, nullptr).ok());
    EXPECT_EQ(table.program_name, "");
}

TEST(Parse, ManyAndLongArgumentsEndWithOneMessage) {
    targets t;
    option_table table = build_option_table(t.config, t.harness, t.modes);
    const std::string huge(1 << 20, 'x');
    std::vector<std::string_view> argv{"kestrix", "-s", "64", "--isa", huge};
    for (int i = 0; i < 20000; ++i) {
        argv.emplace_back("--kestrix");
    }
    const parse_outcome outcome = parse(table, argv);
    EXPECT_EQ(outcome.failure.value_or(""), "Unrecognized token: --kestrix");
    EXPECT_EQ(t.config.isa, huge);
    EXPECT_TRUE(t.modes.play_animation);
}

// Arbitrary mixtures of tokens: the parse always ends, with success or one known message.
TEST(Parse, RandomCommandLinesEndWithAKnownOutcome) {
    const std::vector<std::string_view> pool = {"-s",
                                                "--size",
                                                "64",
                                                "-d",
                                                "--duration=",
                                                "-d=5",
                                                "-h",
                                                "--kestrix",
                                                "",
                                                "-",
                                                "--",
                                                "--isa",
                                                "x y",
                                                "--isa=a=b",
                                                "-n",
                                                "--threading",
                                                "numa",
                                                "NUMA",
                                                "-?x",
                                                "--harness-var",
                                                "=",
                                                "-x",
                                                "\xff",
                                                "18446744073709551616",
                                                "-d45",
                                                "-sd",
                                                "--large-pages=",
                                                "--harness-opt",
                                                "--topo-debug",
                                                " ",
                                                "-=",
                                                "--="};
    const std::vector<std::string_view> known = {
        "Unrecognized token: ", "Expected argument following ", "Flag option '", "Value '",
        "Unable to convert '"};
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int run = 0; run < 3000; ++run) {
        targets t;
        option_table table = build_option_table(t.config, t.harness, t.modes);
        std::vector<std::string_view> argv{"kestrix"};
        const std::uint32_t count = next() % 12;
        for (std::uint32_t i = 0; i < count; ++i) {
            argv.push_back(pool[(next() >> 8) % pool.size()]);
        }
        const parse_outcome outcome = parse(table, argv);
        if (!outcome.ok()) {
            const std::string& m = *outcome.failure;
            EXPECT_TRUE(std::any_of(known.begin(), known.end(), [&m](std::string_view k) {
                return m.starts_with(k);
            })) << m;
        }
    }
}

TEST(Parse, ShortFlagsWrittenTogether) {
    bool a = false;
    bool b = false;
    std::uint32_t n = 0;
    option_table table;
    table.add(flag_option(a).name("-a"));
    table.add(flag_option(b).name("-b"));
    table.add(value_option(n, "n").name("-n"));
    const struct {
        std::vector<std::string_view> argv;
        std::string failure;
        bool a, b;
        std::uint32_t n;
    } rows[] = {
        {{"p", "-ab"}, "", true, true, 0},
        {{"p", "-ban5"}, "", true, true, 5},
        {{"p", "-abn=5"}, "Flag option '-a' contains value 'bn=5'.", false, false, 0},
        {{"p", "-aa"}, "Unrecognized token: -aa", true, false, 0},
        {{"p", "-ax"}, "Unrecognized token: -ax", true, false, 0},
    };
    for (const auto& row : rows) {
        a = b = false;
        n = 0;
        EXPECT_EQ(parse(table, row.argv).failure.value_or(""), row.failure) << row.argv[1];
        EXPECT_EQ(a, row.a) << row.argv[1];
        EXPECT_EQ(b, row.b) << row.argv[1];
        EXPECT_EQ(n, row.n) << row.argv[1];
    }
}

TEST(Parse, BrokenDeclarationsFailWhenTried) {
    bool flag = false;
    const struct {
        option_decl decl;
        std::string failure;
    } rows[] = {
        {flag_option(flag), "No options supplied to opt"},
        {flag_option(flag).name("--f").choices({"x"}), "Flag options cannot contain choices."},
        {flag_option(flag).name("--f").name(""), "Option name cannot be empty"},
        {flag_option(flag).name("f"), "Option name must begin with '-'"},
    };
    for (const auto& row : rows) {
        option_table table;
        table.add(row.decl);
        const std::vector<std::string_view> argv{"p", "--f"};
        EXPECT_EQ(parse(table, argv).failure.value_or(""), row.failure);
        // Never tried without arguments.
        EXPECT_TRUE(parse(table, std::vector<std::string_view>{"p"}).ok());
    }
}

TEST(Declare, DefaultSuffixReadsTheTargetWhenDeclared) {
    std::uint32_t n = 7;
    std::string empty;
    std::string text = "abc";
    auto number = value_option(n, "n").help("Count");
    n = 9; // later changes do not show
    EXPECT_EQ(number.description, "Count [default: 7]");
    EXPECT_EQ(value_option(empty, "e").help("Empty").description, "Empty");
    EXPECT_EQ(value_option(text, "t").description, "[default: abc]");
    EXPECT_EQ(value_option(empty, "e").description, "");
}

} // namespace
} // namespace kestrix
