// bench_report: every variant beside the measured memory roofline, in one run. The sections
// (sections.hpp) measure on the report's thread crew (crew.hpp); this file reads the options,
// leaves out what the processor cannot execute and frames the report.
#include "platform/cpu.hpp"
#include "platform/isa.hpp"
#include "report_lib.hpp"
#include "sections.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace kb = kestrix::bench;

namespace {

// The system's 1-minute load average: the report runs on shared machines, and a load above the
// processor count says that its figures include other people's work.
std::string load_average() {
    std::FILE* f = std::fopen("/proc/loadavg", "r");
    if (f == nullptr) {
        return "unknown";
    }
    char text[32] = {};
    const bool ok = std::fscanf(f, "%31s", text) == 1;
    std::fclose(f);
    return ok ? std::string(text) : "unknown";
}

template <class T> std::string join(const std::vector<T>& values) {
    return fmt::format("{}", fmt::join(values, ","));
}

// Variants this processor cannot execute are left out, with their reason. The report steps
// both workloads' fields: what the soft Gaussian needs covers both.
std::vector<std::string> runnable_isas(const std::vector<std::string>& isas) {
    std::vector<std::string> runnable;
    for (const auto& isa : isas) {
        const std::optional<kestrix::isa_kind> kind = kestrix::parse_isa_name(isa);
        if (!kind) {
            kb::note("left out " + isa + ": unknown isa");
        } else if (auto reason = kestrix::check_variant_runnable(
                       *kind, kestrix::workload_kind::soft_gaussian)) {
            kb::note("left out " + isa + ": " + *reason);
        } else {
            runnable.push_back(isa);
        }
    }
    return runnable;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    // Help wins over every other argument (run-report.sh may put one in front of it).
    if (std::any_of(args.begin(), args.end(),
                    [](std::string_view a) { return a == "--help" || a == "-h"; })) {
        std::fputs(kb::usage_text, stdout);
        return 0;
    }
    const auto parsed = kb::parse_options(
        args, static_cast<std::uint64_t>(std::max(1U, std::thread::hardware_concurrency())));
    if (!parsed) {
        std::fputs(kb::usage_text, stderr);
        return 1;
    }
    kb::options o = *parsed;
    o.isas = runnable_isas(o.isas);
    if (o.isas.empty()) {
        kb::note("no variant can execute on this processor");
        return 1;
    }
    const double start = kb::now_seconds();
    std::array<char, 64> date{};
    const std::time_t now = std::time(nullptr);
    std::strftime(date.data(), date.size(), "%Y-%m-%d %H:%M", std::localtime(&now));
    fmt::print(
        "# kestrix bench report\n\n{}, {}, {} logical processors; {} repetitions of at "
        "least {:.2f} s per measurement; threads {}; edges {}; variants {}{}; load average {} at "
        "the start\n",
        kestrix::read_cpu_brand(), date.data(), std::thread::hardware_concurrency(), o.reps,
        o.min_time, join(o.threads), join(o.sizes), join(o.isas), o.pin ? "; pinned" : "",
        load_average());
    std::fflush(stdout);

    if (kb::has_section(o, "main")) {
        if (!kb::section_main(o)) {
            return 1;
        }
        std::fflush(stdout);
    }
    if (kb::has_section(o, "energy")) {
        kb::section_energy(o);
        std::fflush(stdout);
    }
    if (kb::has_section(o, "overhead")) {
        kb::section_overhead(o);
        std::fflush(stdout);
    }
    if (kb::has_section(o, "large")) {
        kb::section_large(o);
    }
    fmt::print("\nreport took {:.0f} s; load average {} at the end\n", kb::now_seconds() - start,
               load_average());
    return 0;
}
