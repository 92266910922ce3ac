#include "driver/evaluate.hpp"

#include "console/log_text.hpp"
#include "console/output.hpp"

#include <kestrix/version.hpp>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include <fmt/format.h>

namespace kestrix {

namespace {

constexpr std::size_t column_count = 5;
constexpr const auto& column_headers = log_text::thread_columns;
static_assert(column_headers.size() == column_count);

using table_row = std::array<std::string, column_count>;

double worker_rate(const thread_result& r) {
    return (static_cast<double>(r.updates) / 1000000.0) /
           (static_cast<double>(r.fast_us) / 1000000.0);
}

// |a - b| without signed overflow for any pair of values.
std::uint64_t distance(std::int64_t a, std::int64_t b) {
    auto ua = static_cast<std::uint64_t>(a);
    auto ub = static_cast<std::uint64_t>(b);
    return a >= b ? ua - ub : ub - ua;
}

void print_table(console_sink& sink, const std::vector<table_row>& rows) {
    std::array<std::size_t, column_count> widths{};
    for (std::size_t c = 0; c < column_count; ++c) {
        widths[c] = column_headers[c].size();
        for (const auto& row : rows) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    auto print_line = [&](auto cell) {
        std::string line;
        for (std::size_t c = 0; c < column_count; ++c) {
            if (c != 0) {
                line += "  ";
            }
            fmt::format_to(std::back_inserter(line), "{:>{}}", cell(c), widths[c]);
        }
        write_line(sink, stream::out, line);
    };
    print_line([](std::size_t c) { return column_headers[c]; });
    for (const auto& row : rows) {
        print_line([&](std::size_t c) { return std::string_view(row[c]); });
    }
}

} // namespace

void print_invalid_banner(console_sink& sink) {
    write_line(sink, stream::err, "==================");
    write_line(sink, stream::err, log_text::invalid_result);
    write_line(sink, stream::err, "==================");
}

std::string format_score(double score) {
    if (score > 100.0) {
        return fmt::format("{:.2f}", score) + std::string(log_text::mgups);
    }
    return fmt::format("{:.4g}", score) + std::string(log_text::mgups);
}

std::optional<double> evaluate_run(const run_state& state, const run_request& request,
                                   std::string_view brand, console_sink& sink) {
    if (state.stopped) {
        print_invalid_banner(sink);
        return std::nullopt;
    }
    if (state.results.size() < state.count) {
        print_invalid_banner(sink);
        write_line(sink, stream::err, "not all threads produced a result");
        return std::nullopt;
    }

    std::vector<table_row> rows;
    rows.reserve(state.results.size());
    double score = 0.0;
    for (const auto& r : state.results) {
        const double rate = worker_rate(r);
        rows.push_back({fmt::format("{}", r.thread_index), fmt::format("{}", r.updates),
                        fmt::format("{:.2f}s", static_cast<double>(r.fast_us) / 1000000.0),
                        fmt::format("{:.2f}", rate), fmt::format("{}", r.iterations)});
        score += rate;
    }
    print_table(sink, rows);

    for (const auto& r : state.results) {
        const std::int64_t fast_ms = r.fast_us / 1000;
        if (distance(fast_ms, r.coarse_ms) >= static_cast<std::uint64_t>(timer_tolerance_ms)) {
            print_invalid_banner(sink);
            write_line(sink, stream::err,
                       "disagreement between timers for total work is larger than tolerance");
            write_line(
                sink, stream::err,
                fmt::format("fast timer = {}ms    coarse timer = {}ms", fast_ms, r.coarse_ms));
            return std::nullopt;
        }
    }

    write_line(sink, stream::out, "===============");
    write_line(sink, stream::out, log_text::valid_result);
    write_line(sink, stream::out, "===============");
    write_line(sink, stream::out,
               std::string(log_text::version_banner) + fmt::format("{} {} {}", version_text,
                                                                   workload_name(request.workload),
                                                                   isa_name(request.isa)));
    write_line(sink, stream::out, brand);
    write_line(sink, stream::out, std::string(log_text::final_score) + format_score(score));
    return score;
}

} // namespace kestrix
