// Command lines from raw bytes, parsed and checked in-process; no mode ever runs. The input is
// split at NUL bytes when it has any (so that arguments may hold newlines), else at newlines;
// the first piece is the program name and an empty input is an empty argument vector.
#include "cli/parser.hpp"
#include "driver/config.hpp"
#include "driver/entry.hpp"
#include "options/table.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace kestrix;

std::vector<std::string> split(std::string_view input) {
    std::vector<std::string> args;
    if (input.empty()) {
        return args;
    }
    const char separator = input.find('\0') != std::string_view::npos ? '\0' : '\n';
    std::size_t from = 0;
    while (true) {
        const std::size_t at = input.find(separator, from);
        args.emplace_back(input.substr(from, at - from));
        if (at == std::string_view::npos) {
            break;
        }
        from = at + 1;
    }
    return args;
}

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void expect(bool holds, const char* what) {
    if (!holds) {
        broken(what);
    }
}

entry_decision decide(command_line& cl, const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    argv.push_back(nullptr);
    return decide_mode(cl, static_cast<int>(args.size()), argv.data());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> args =
        split(std::string_view(reinterpret_cast<const char*>(data), size));

    command_line cl;
    const entry_decision d = decide(cl, args);

    expect(d.exit_code == 0 || d.exit_code == 1, "exit code is 0 or 1");
    expect(d.failure.has_value() == (d.exit_code == 1), "a message exactly when the code is 1");
    expect(d.failure.has_value() == (d.mode == program_mode::none), "a mode unless it failed");
    expect(!d.failure || !d.failure->empty(), "a failure has a message");

    if (d.mode == program_mode::benchmark) {
        const bench_config& c = cl.config;
        expect(std::find(grid_edges.begin(), grid_edges.end(), c.size) != grid_edges.end(),
               "a benchmark only with a valid size");
        expect(c.threading == "os" || c.threading == "numa" || c.threading == "phte",
               "a benchmark only with a known placement policy");
    }
    if (d.mode == program_mode::help) {
        // The help text is built from the parsed program name: lay it out without printing.
        const std::string help = format_option_help(cl.table);
        expect(help.find("OPTIONS, ARGUMENTS:") != std::string::npos, "help lists the options");
    }

    // The same command line decides the same way a second time.
    command_line again;
    const entry_decision d2 = decide(again, args);
    expect(d2.mode == d.mode && d2.exit_code == d.exit_code && d2.failure == d.failure,
           "the decision depends on the arguments alone");
    return 0;
}
