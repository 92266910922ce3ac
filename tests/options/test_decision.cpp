#include "console/log_text.hpp"
#include "options/decision.hpp"
#include "options/options_json.hpp"
#include "solver/solver.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrix {
namespace {

// Every spelling the parser accepts decides the same typed values, also for runs that would stop
// before their header (a failed strict ISA check is decided as a benchmark like any other).
TEST(Decision, SpellingsOfOneOptionDecideAlike) {
    const struct {
        std::vector<std::string> args;
        std::uint32_t threads;
        std::uint64_t size;
        isa_kind isa;
    } rows[] = {
        {{"-n4"}, 4, 192, isa_kind::sse2},
        {{"-n", "4"}, 4, 192, isa_kind::sse2},
        {{"--numthreads=4"}, 4, 192, isa_kind::sse2},
        {{"--numthreads", "4"}, 4, 192, isa_kind::sse2},
        {{"-s64"}, 0, 64, isa_kind::sse2},
        {{"-s", "64"}, 0, 64, isa_kind::sse2},
        {{"--size=64"}, 0, 64, isa_kind::sse2},
        {{"--isa=avx2"}, 0, 192, isa_kind::avx2},
        {{"--isa", "avx2", "-s64", "-n4"}, 4, 64, isa_kind::avx2},
        {{"--isa=fma-apx", "-d", "1", "-s", "64", "--strict-isa-check"}, 0, 64, isa_kind::fma_apx},
    };
    for (const auto& r : rows) {
        const option_decision d = decide_kestrix_options(r.args);
        const std::string line = r.args.front();
        ASSERT_EQ(d.mode, program_mode::benchmark) << line;
        ASSERT_TRUE(d.run && d.harness) << line;
        EXPECT_EQ(d.run->threads, r.threads) << line;
        EXPECT_EQ(d.run->size, r.size) << line;
        EXPECT_EQ(d.run->isa, r.isa) << line;
    }
}

// Modes, refusals and grouped short flags: the stop flag ends the parse where it stands.
TEST(Decision, ModesAndUsageErrorsAsKestrixReportsThem) {
    const struct {
        std::vector<std::string> args;
        program_mode mode;
        std::string failure;
    } rows[] = {
        {{"-hs7"}, program_mode::help, ""},
        {{"-?"}, program_mode::help, ""},
        {{"-s7", "-h"}, program_mode::none, "Invalid size '7', must be one of: 64, 128"},
        {{"-n", "-1"}, program_mode::none, "Unable to convert '-1' to destination type"},
        {{"--threading=foo"}, program_mode::none, "Value 'foo' not expected."},
        {{"--workload", "standing"}, program_mode::none, "Invalid workload name 'standing'"},
        {{"--isa=avx3"}, program_mode::none, "Invalid isa name 'avx3'"},
        {{"--topo-debug"}, program_mode::topology, ""},
        {{"--kestrix", "-s7"}, program_mode::animation, ""},
    };
    for (const auto& r : rows) {
        const option_decision d = decide_kestrix_options(r.args);
        const std::string line = r.args.front();
        EXPECT_EQ(d.mode, r.mode) << line;
        EXPECT_EQ(d.exit_code, r.failure.empty() ? 0 : 1) << line;
        EXPECT_EQ(d.failure.value_or("").substr(0, r.failure.size()), r.failure) << line;
        EXPECT_EQ(d.failure.has_value(), !r.failure.empty()) << line;
        EXPECT_EQ(d.run.has_value(), r.mode == program_mode::benchmark) << line;
    }
}

// kestrix-results knows a refused command line by the start of its first line: every refusal
// the parser and the decision write starts with the text listed for it.
TEST(Decision, EveryRefusalStartsWithATextTheReaderKnows) {
    namespace lt = log_text;
    const struct {
        std::vector<std::string> args;
        std::string_view text;
    } rows[] = {
        {{"stray"}, lt::unrecognized_token},
        {{"--isa"}, lt::expected_argument},
        {{"-d", "abc"}, lt::unable_to_convert},
        {{"--threading=foo"}, lt::value_not_expected},
        {{"--topo-debug=1"}, lt::flag_with_value},
        {{"-s", "7"}, lt::invalid_size},
        {{"--workload", "standing"}, lt::invalid_workload},
        {{"--isa=avx3"}, lt::invalid_isa},
    };
    for (const auto& r : rows) {
        const std::string failure = decide_kestrix_options(r.args).failure.value_or("");
        std::string_view known;
        for (const auto text : lt::option_errors) {
            if (failure.starts_with(text)) {
                known = text;
            }
        }
        EXPECT_EQ(known, r.text) << failure;
    }
}

// The options' workload names and the solver's parse agree, in the order the driver converts.
TEST(Decision, WorkloadNamesMatchTheSolver) {
    for (std::size_t i = 0; i < workload_names.size(); ++i) {
        const auto choice = parse_workload_choice(workload_names[i]);
        const auto kind = parse_workload_name(workload_names[i]);
        ASSERT_TRUE(choice && kind) << workload_names[i];
        EXPECT_EQ(static_cast<std::size_t>(*choice), i);
        EXPECT_EQ(static_cast<std::size_t>(*kind), i) << workload_names[i];
    }
    EXPECT_FALSE(parse_workload_choice("Standing_wave"));
}

TEST(Decision, JsonShape) {
    const std::vector<std::string> args = {"-n4",           "--workload=soft_gaussian",
                                           "--threading",   "numa",
                                           "--harness-var", "threads",
                                           "--harness-opt", "1-4"};
    const nlohmann::json j = decide_kestrix_options(args);
    EXPECT_EQ(j.dump(),
              R"({"exit_code":0,"harness":{"option":"1-4","pause_ms":1,"sub_runs":3,)"
              R"("variable":"threads"},"mode":"benchmark","run":{"bypass_timer_check":false,)"
              R"("duration":30,"isa":"sse2","large_pages":false,"placement":"numa","size":192,)"
              R"("strict_isa_check":false,"threads":4,"workload":"soft_gaussian"},)"
              R"("usage_error":null})");
    const std::vector<std::string> bad = {"--size=7"};
    const nlohmann::json f = decide_kestrix_options(bad);
    EXPECT_EQ(f.dump(),
              R"({"exit_code":1,"harness":null,"mode":"none","run":null,"usage_error":)"
              R"("Invalid size '7', must be one of: 64, 128, 192, 256, 320, 384, 448, 512, 640, )"
              R"(768, 1024, 2048, 4096, 8192"})");
}

} // namespace
} // namespace kestrix
