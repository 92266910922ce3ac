#include "cli/help_golden.hpp"
#include "options/table.hpp"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

std::string rendered_help(const option_table& table) {
    std::string text = format_option_help(table) + "\n";
    for (const auto& line : field_size_lines()) {
        text += line + "\n";
    }
    return text;
}

TEST(Help, MatchesTheGoldenTextByteForByte) {
    bench_config config;
    harness_settings harness;
    mode_flags modes;
    option_table table = build_option_table(config, harness, modes);
    table.program_name = "kestrix.exe";
    EXPECT_EQ(rendered_help(table), test::expected_help("kestrix.exe"));
}

TEST(Help, NoUsageSectionWithoutProgramName) {
    bench_config config;
    harness_settings harness;
    mode_flags modes;
    option_table table = build_option_table(config, harness, modes);
    table.program_name.clear();
    const std::string full = test::expected_help("x");
    EXPECT_EQ(rendered_help(table), full.substr(full.find("Display usage information.")));
}

TEST(Help, DefaultsComeFromTheTargetsAtDeclaration) {
    bench_config config;
    config.duration = 5;
    config.isa = "avx2";
    harness_settings harness;
    harness.option_string = "64,128";
    mode_flags modes;
    const std::string text = format_option_help(build_option_table(config, harness, modes));
    EXPECT_NE(text.find("between 1-1000s [default: 5]\n"), std::string::npos);
    EXPECT_NE(text.find("avx10-2-512] [default: avx2]\n"), std::string::npos);
    EXPECT_NE(text.find("if supported [default: 64,128]\n"), std::string::npos);
}

} // namespace
} // namespace kestrix
