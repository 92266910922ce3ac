#include "driver/harness.hpp"

#include "driver/interrupt.hpp"
#include "driver/sweep.hpp"

#include "console/output.hpp"

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>
#include <string>
#include <thread>

#include <fmt/format.h>

namespace kestrix {

namespace {

constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturated_mul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r = 0;
    return __builtin_mul_overflow(a, b, &r) ? u64_max : r;
}

std::uint64_t saturated_add(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r = 0;
    return __builtin_add_overflow(a, b, &r) ? u64_max : r;
}

// Builds one table line in bounded pieces: a huge sub-run count must not need the whole line
// in memory at once.
class line_writer {
public:
    template <typename... Args> void add(fmt::format_string<Args...> f, Args&&... args) {
        fmt::format_to(std::back_inserter(buffer_), f, std::forward<Args>(args)...);
        spill();
    }
    void repeat(char c, std::uint64_t count) {
        while (count > 0) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, chunk));
            buffer_.append(n, c);
            count -= n;
            spill();
        }
    }
    void end() {
        write_line(stream::out, buffer_);
        buffer_.clear();
    }

private:
    static constexpr std::size_t chunk = 64 * 1024;
    void spill() {
        if (buffer_.size() >= chunk) {
            write_unflushed(stream::out, buffer_);
            buffer_.clear();
        }
    }
    std::string buffer_;
};

// A sub-run that throws counts as one without a score; the sweep goes on.
std::optional<double> execute_one(const bench_box::harness_run& run) {
    try {
        return run.execute();
    } catch (const std::exception& e) {
        write_line(stream::err, fmt::format("run {} failed: {}", run.label, e.what()));
        return std::nullopt;
    }
}

std::optional<run_list> generate(const std::string& variable, std::string_view option,
                                 const kestrix_harness_context& context, bool& known) {
    known = true;
    if (variable == "none") {
        return h_none_var::gen(option, context);
    }
    if (variable == "size") {
        return h_size_var::gen(option, context);
    }
    if (variable == "duration") {
        return h_dur_var::gen(option, context);
    }
    if (variable == "threads") {
        return h_threads_var::gen(option, context);
    }
    if (variable == "isa") {
        return h_isa_var::gen(option, context);
    }
    known = false;
    return std::nullopt;
}

} // namespace

std::uint64_t harness_estimate(const std::vector<bench_box::harness_run>& runs,
                               std::uint32_t sub_runs, std::uint32_t pause_ms) {
    std::uint64_t total = saturated_mul(runs.size(), pause_ms) / 1000;
    for (const auto& run : runs) {
        total = saturated_add(total, saturated_mul(sub_runs, run.estimate_seconds));
    }
    return total;
}

void execute_runs(harness_settings& settings) {
    const std::uint64_t total = saturated_mul(settings.runs.size(), settings.sub_runs);
    std::uint64_t k = 0;
    for (auto& run : settings.runs) {
        run.scores.clear();
        for (std::uint32_t i = 0; i < settings.sub_runs; ++i) {
            if (interrupt_noticed()) {
                return;
            }
            ++k;
            write_line(stream::out, "");
            write_line(stream::out, fmt::format("!!HARNESS!! run {}/{}", k, total));
            write_line(stream::out, "");
            run.scores.push_back(execute_one(run));
            std::this_thread::sleep_for(std::chrono::milliseconds(settings.pause_ms));
        }
    }
}

void print_results_table(const harness_settings& s) {
    write_line(stream::out, "");
    write_line(stream::out, "!!HARNESS!!");
    write_line(stream::out, fmt::format("====={} results=====", s.variable));

    std::size_t width = std::max<std::size_t>(8, s.variable.size());
    for (const auto& run : s.runs) {
        width = std::max(width, run.label.size());
    }

    line_writer line;
    line.add(" {:<{}} |", s.variable, width);
    for (std::uint64_t i = 1; i <= s.sub_runs; ++i) {
        line.add(" {:>8}", fmt::format("run {}", i));
    }
    line.add(" | {:>8} | {:>8}", "avg", "max/min");
    line.end();
    line.repeat('=', saturated_add(width + 25, saturated_mul(9, s.sub_runs)));
    line.end();

    for (const auto& run : s.runs) {
        line.add(" {:<{}} |", run.label, width);
        double sum = 0.0;
        double high = 0.0;
        double low = 1e20;
        std::uint64_t n = 0;
        for (std::uint64_t i = 0; i < s.sub_runs; ++i) {
            const bool has = i < run.scores.size() && run.scores[i].has_value();
            if (!has) {
                line.add(" {:>8}", "---");
                continue;
            }
            const double v = *run.scores[i];
            line.add(" {:>8}", fmt::format("{:.2f}", v));
            sum += v;
            high = std::max(high, v);
            low = std::min(low, v);
            ++n;
        }
        const std::string avg =
            sum < 1e-10 ? std::string("---") : fmt::format("{:.2f}", sum / static_cast<double>(n));
        const std::string spread =
            high < 1e-10 ? std::string("---") : fmt::format("{:.2f}%", (high / low - 1.0) * 100.0);
        line.add(" | {:>8} | {:>8}", avg, spread);
        line.end();
    }
}

void run_harness(harness_settings& settings, const kestrix_harness_context& context) {
    bool known = true;
    std::optional<run_list> runs;
    try {
        runs = generate(settings.variable, settings.option_string, context, known);
    } catch (const std::bad_alloc&) {
        write_line(stream::err, fmt::format("not enough memory to plan the harness runs for "
                                            "{}\t{}; aborting",
                                            settings.variable, settings.option_string));
        return;
    }
    if (!known) {
        write_line(stream::err, "unknown var " + settings.variable);
        return;
    }
    if (!runs) {
        write_line(stream::err, "couldn't generate runs for harness for " + settings.variable +
                                    "\t" + settings.option_string);
        return;
    }
    settings.runs = std::move(*runs);

    write_line(stream::out, "!!HARNESS!! run values:");
    for (const auto& run : settings.runs) {
        write_line(stream::out, run.label);
    }
    write_line(stream::out, "!!HARNESS!! estimated total time = " +
                                format_duration(harness_estimate(settings.runs, settings.sub_runs,
                                                                 settings.pause_ms)));
    execute_runs(settings);
    print_results_table(settings);
}

} // namespace kestrix
