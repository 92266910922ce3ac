#include "driver/harness.hpp"

#include "driver/interrupt.hpp"
#include "driver/run.hpp"
#include "driver/run_types.hpp"
#include "driver/sweep.hpp"

#include "console/log_text.hpp"
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
    explicit line_writer(console_sink& sink) : sink_(sink) {}
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
        write_line(sink_, stream::out, buffer_);
        buffer_.clear();
    }

private:
    static constexpr std::size_t chunk = 64 * 1024;
    void spill() {
        if (buffer_.size() >= chunk) {
            write_unflushed(sink_, stream::out, buffer_);
            buffer_.clear();
        }
    }
    console_sink& sink_;
    std::string buffer_;
};

// A sub-run that throws counts as one without a score; the sweep goes on.
std::optional<double> execute_one(const bench_box::harness_run& run, const point_runner& runner,
                                  console_sink& sink) {
    try {
        return runner(run.request);
    } catch (const std::exception& e) {
        write_line(sink, stream::err, fmt::format("run {} failed: {}", run.label, e.what()));
        return std::nullopt;
    }
}

std::optional<run_list> generate(sweep_variable variable, std::string_view option,
                                 const sweep_context& context) {
    switch (variable) {
    case sweep_variable::none:
        return h_none_var::gen(option, context);
    case sweep_variable::size:
        return h_size_var::gen(option, context);
    case sweep_variable::duration:
        return h_dur_var::gen(option, context);
    case sweep_variable::threads:
        return h_threads_var::gen(option, context);
    case sweep_variable::isa:
        return h_isa_var::gen(option, context);
    }
    return std::nullopt;
}

} // namespace

std::uint64_t harness_estimate(const run_list& runs, std::uint32_t sub_runs,
                               std::uint32_t pause_ms) {
    std::uint64_t total = saturated_mul(runs.size(), pause_ms) / 1000;
    for (const auto& run : runs) {
        total = saturated_add(total, saturated_mul(sub_runs, run.estimate_seconds));
    }
    return total;
}

void execute_runs(run_list& runs, std::uint32_t sub_runs, std::uint32_t pause_ms,
                  const point_runner& runner, console_sink& sink) {
    const std::uint64_t total = saturated_mul(runs.size(), sub_runs);
    std::uint64_t k = 0;
    for (auto& run : runs) {
        run.scores.clear();
        for (std::uint32_t i = 0; i < sub_runs; ++i) {
            if (interrupt_noticed()) {
                return;
            }
            ++k;
            write_line(sink, stream::out, "");
            write_line(sink, stream::out,
                       std::string(log_text::harness_run) + fmt::format("{}/{}", k, total));
            write_line(sink, stream::out, "");
            run.scores.push_back(execute_one(run, runner, sink));
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        }
    }
}

void print_results_table(sweep_variable variable, const run_list& runs, std::uint32_t sub_runs,
                         console_sink& sink) {
    const std::string_view name = sweep_variable_name(variable);
    write_line(sink, stream::out, "");
    write_line(sink, stream::out, log_text::harness);
    write_line(sink, stream::out,
               std::string(log_text::results_open) + std::string(name) +
                   std::string(log_text::results_close));

    std::size_t width = std::max<std::size_t>(8, name.size());
    for (const auto& run : runs) {
        width = std::max(width, run.label.size());
    }

    line_writer line(sink);
    line.add(" {:<{}} |", name, width);
    for (std::uint64_t i = 1; i <= sub_runs; ++i) {
        line.add(" {:>8}", fmt::format("run {}", i));
    }
    line.add(" | {:>8} | {:>8}", log_text::results_average, log_text::results_spread);
    line.end();
    line.repeat('=', saturated_add(width + 25, saturated_mul(9, sub_runs)));
    line.end();

    for (const auto& run : runs) {
        line.add(" {:<{}} |", run.label, width);
        double sum = 0.0;
        double high = 0.0;
        double low = 1e20;
        std::uint64_t n = 0;
        for (std::uint64_t i = 0; i < sub_runs; ++i) {
            const bool has = i < run.scores.size() && run.scores[i].has_value();
            if (!has) {
                line.add(" {:>8}", log_text::no_value);
                continue;
            }
            const double v = *run.scores[i];
            line.add(" {:>8}", fmt::format("{:.2f}", v));
            sum += v;
            high = std::max(high, v);
            low = std::min(low, v);
            ++n;
        }
        const std::string avg = sum < 1e-10 ? std::string(log_text::no_value)
                                            : fmt::format("{:.2f}", sum / static_cast<double>(n));
        const std::string spread = high < 1e-10
                                       ? std::string(log_text::no_value)
                                       : fmt::format("{:.2f}%", (high / low - 1.0) * 100.0);
        line.add(" | {:>8} | {:>8}", avg, spread);
        line.end();
    }
}

void run_harness(const harness_request& harness, const run_request& base, const run_env& env) {
    console_sink& sink = env.sink();
    std::optional<run_list> runs;
    try {
        runs = generate(harness.variable, harness.option, sweep_context{base, env});
    } catch (const std::bad_alloc&) {
        write_line(
            sink, stream::err,
            std::string(log_text::harness_no_memory) +
                fmt::format("{}\t{}", sweep_variable_name(harness.variable), harness.option) +
                std::string(log_text::aborting));
        return;
    }
    if (!runs) {
        write_line(
            sink, stream::err,
            std::string(log_text::harness_no_runs) +
                fmt::format("{}\t{}", sweep_variable_name(harness.variable), harness.option));
        return;
    }

    write_line(sink, stream::out, log_text::harness_values);
    for (const auto& run : *runs) {
        write_line(sink, stream::out, run.label);
    }
    write_line(sink, stream::out,
               std::string(log_text::harness_estimate) +
                   format_duration(harness_estimate(*runs, harness.sub_runs, harness.pause_ms)));
    // Every sub-run of every point is a whole run on the same environment.
    const point_runner runner = [&env](const run_request& r) { return run_benchmark(r, env); };
    execute_runs(*runs, harness.sub_runs, harness.pause_ms, runner, sink);
    print_results_table(harness.variable, *runs, harness.sub_runs, sink);
}

} // namespace kestrix
