#include "driver/sweep.hpp"

#include "driver/run_types.hpp"
#include "platform/isa.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <new>
#include <stdexcept>

#include <fmt/format.h>

namespace kestrix {

namespace {

template <typename T> std::optional<T> parse_number(std::string_view text) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool is_automatic(std::string_view option) {
    return option.empty() || option == "auto";
}

// The pieces of "start-end:step", each possibly absent.
struct range_pieces {
    std::optional<std::string_view> start, end, step;
};

range_pieces split_range(std::string_view text) {
    range_pieces out;
    std::string_view range = text;
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        range = text.substr(0, colon);
        if (auto step = text.substr(colon + 1); !step.empty()) {
            out.step = step;
        }
    }
    if (const auto dash = range.find('-'); dash != std::string_view::npos) {
        if (auto start = range.substr(0, dash); !start.empty()) {
            out.start = start;
        }
        if (auto end = range.substr(dash + 1); !end.empty()) {
            out.end = end;
        }
    } else if (!range.empty()) {
        out.start = range;
        out.end = range;
    }
    return out;
}

template <typename T>
std::optional<sweep_range<T>> parse_range_of(std::string_view text, T s0, T e0, T t0) {
    sweep_range<T> r{s0, e0, t0};
    if (is_automatic(text)) {
        return r;
    }
    const range_pieces pieces = split_range(text);
    auto take = [](const std::optional<std::string_view>& piece, T& into) {
        if (!piece) {
            return true;
        }
        const auto value = parse_number<T>(*piece);
        if (value) {
            into = *value;
        }
        return value.has_value();
    };
    if (!take(pieces.start, r.start) || !take(pieces.end, r.end) || !take(pieces.step, r.step)) {
        return std::nullopt;
    }
    if (r.end < r.start || r.step == 0) {
        return std::nullopt;
    }
    return r;
}

// Refuses a plan that cannot be held before any of it is built.
void reserve_runs(run_list& runs, std::uint64_t count, std::uint64_t available) {
    if (available != 0 && count > available / planned_run_bytes) {
        throw std::bad_alloc();
    }
    if (count > runs.max_size()) {
        throw std::bad_alloc();
    }
    runs.reserve(static_cast<std::size_t>(count));
}

// The seconds a run of the given duration really takes: its clamped duration.
std::uint32_t run_seconds(std::uint32_t duration) {
    return std::clamp(duration, min_duration, max_duration);
}

// One planned run: label, estimate, and the requested run with the swept value replaced.
template <typename Apply>
bench_box::harness_run planned(std::string label, std::uint32_t estimate, const sweep_context& c,
                               Apply apply) {
    run_request request = c.base;
    apply(request);
    return bench_box::harness_run{
        .label = std::move(label), .estimate_seconds = estimate, .request = request, .scores = {}};
}

// The points of a numeric range: start, start + step, ... while not above end.
template <typename T> std::uint64_t point_count(const sweep_range<T>& r) {
    return (std::uint64_t{r.end} - r.start) / r.step + 1;
}

template <typename T, typename Make>
run_list range_runs(const sweep_range<T>& r, std::uint64_t available, Make make) {
    run_list runs;
    reserve_runs(runs, point_count(r), available);
    for (std::uint64_t v = r.start; v <= r.end; v += r.step) {
        runs.push_back(make(static_cast<T>(v)));
    }
    return runs;
}

template <typename T, typename Make>
std::optional<run_list> list_runs(std::string_view option, std::uint64_t available, Make make) {
    const auto items = parse_list(option);
    if (!items) {
        return std::nullopt;
    }
    std::vector<T> values;
    values.reserve(items->size());
    for (const auto& item : *items) {
        const auto v = parse_number<T>(item);
        if (!v) {
            return std::nullopt;
        }
        values.push_back(*v);
    }
    run_list runs;
    reserve_runs(runs, values.size(), available);
    for (T v : values) {
        runs.push_back(make(v));
    }
    return runs;
}

// A duration or thread count sweep: automatic points from..below, else range, else list.
template <typename Make>
std::optional<run_list> counted_sweep(std::string_view option, std::uint32_t auto_from,
                                      std::uint32_t auto_below, sweep_range<std::uint32_t> d,
                                      std::uint64_t available, Make make) {
    if (is_automatic(option)) {
        run_list runs;
        if (auto_below > auto_from) {
            return range_runs(sweep_range<std::uint32_t>{auto_from, auto_below - 1, 1}, available,
                              make);
        }
        return runs;
    }
    if (auto r = parse_range(option, d.start, d.end, d.step)) {
        return range_runs(*r, available, make);
    }
    return list_runs<std::uint32_t>(option, available, make);
}

std::optional<std::size_t> edge_index(std::uint64_t n) {
    const auto it = std::find(grid_edges.begin(), grid_edges.end(), n);
    if (it == grid_edges.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(it - grid_edges.begin());
}

std::optional<std::size_t> isa_index(std::string_view name) {
    const auto it = std::find(isa_names.begin(), isa_names.end(), name);
    if (it == isa_names.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(it - isa_names.begin());
}

} // namespace

std::optional<sweep_range<std::uint32_t>> parse_range(std::string_view text, std::uint32_t s0,
                                                      std::uint32_t e0, std::uint32_t t0) {
    return parse_range_of<std::uint32_t>(text, s0, e0, t0);
}

std::optional<sweep_range<std::uint64_t>> parse_range(std::string_view text, std::uint64_t s0,
                                                      std::uint64_t e0, std::uint64_t t0) {
    return parse_range_of<std::uint64_t>(text, s0, e0, t0);
}

std::optional<std::vector<std::string>> parse_list(std::string_view text) {
    if (text == "auto") {
        return std::nullopt;
    }
    std::vector<std::string> items;
    std::size_t from = 0;
    while (true) {
        const auto comma = text.find(',', from);
        if (comma == std::string_view::npos) {
            items.emplace_back(text.substr(from));
            return items;
        }
        items.emplace_back(text.substr(from, comma - from));
        from = comma + 1;
    }
}

std::uint32_t max_threads_for_size(const cpu_topology& topology, std::uint64_t size,
                                   std::uint64_t available_memory) {
    return automatic_thread_count(core_count(topology), available_memory, size);
}

std::optional<run_list> h_none_var::gen(std::string_view, const sweep_context& c) {
    run_list runs;
    runs.push_back(planned("none", run_seconds(c.base.duration), c, [](run_request&) {}));
    return runs;
}

std::optional<run_list> h_size_var::gen(std::string_view option, const sweep_context& c) {
    const std::uint32_t estimate = run_seconds(c.base.duration) + 1;
    auto make = [&](std::uint64_t n) {
        return planned(fmt::format("{}", n), estimate, c, [n](run_request& r) { r.size = n; });
    };
    run_list runs;
    if (is_automatic(option)) {
        for (std::uint64_t n : grid_edges) {
            runs.push_back(make(n));
        }
        return runs;
    }
    if (auto r = parse_range(option, std::uint64_t{64}, std::uint64_t{384}, std::uint64_t{1})) {
        const auto first = edge_index(r->start);
        const auto last = edge_index(r->end);
        if (first && last && *first <= *last) {
            for (std::size_t i = *first; i <= *last; ++i) {
                if ((grid_edges[i] - r->start) % r->step == 0) {
                    runs.push_back(make(grid_edges[i]));
                }
            }
            return runs;
        }
    }
    const auto items = parse_list(option);
    if (!items) {
        return std::nullopt;
    }
    for (const auto& item : *items) {
        const auto n = parse_number<std::uint64_t>(item);
        if (!n || !edge_index(*n)) {
            return std::nullopt;
        }
    }
    reserve_runs(runs, items->size(), c.env.available_memory());
    for (const auto& item : *items) {
        runs.push_back(make(*parse_number<std::uint64_t>(item)));
    }
    return runs;
}

std::optional<run_list> h_dur_var::gen(std::string_view option, const sweep_context& c) {
    auto make = [&](std::uint32_t d) {
        return planned(fmt::format("{}", d), run_seconds(d) + 1, c,
                       [d](run_request& r) { r.duration = d; });
    };
    return counted_sweep(option, 5, 60, {5, 60, 1}, c.env.available_memory(), make);
}

std::optional<run_list> h_threads_var::gen_for(std::string_view option, const sweep_context& c,
                                               std::uint32_t limit) {
    const std::uint32_t estimate = run_seconds(c.base.duration) + 1;
    auto make = [&](std::uint32_t t) {
        return planned(fmt::format("{}", t), estimate, c, [t](run_request& r) { r.threads = t; });
    };
    return counted_sweep(option, 1, limit, {1, limit, 1}, c.env.available_memory(), make);
}

std::optional<run_list> h_threads_var::gen(std::string_view option, const sweep_context& c) {
    return gen_for(option, c,
                   max_threads_for_size(c.env.topology(), c.base.size, c.env.available_memory()));
}

std::optional<run_list> h_isa_var::gen(std::string_view option, const sweep_context& c) {
    // Point i of the nine instruction sets.
    auto make = [&](std::size_t i) {
        return planned(std::string(isa_names[i]), run_seconds(c.base.duration), c,
                       [isa = static_cast<isa_kind>(i)](run_request& r) { r.isa = isa; });
    };
    run_list runs;
    auto add_names = [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i <= last; ++i) {
            runs.push_back(make(i));
        }
    };
    if (is_automatic(option)) {
        add_names(0, isa_names.size() - 1);
        return runs;
    }
    const range_pieces pieces = split_range(option);
    if (!pieces.step) {
        const auto first = isa_index(pieces.start.value_or(isa_names.front()));
        const auto last = isa_index(pieces.end.value_or(isa_names.back()));
        if (first && last && *first <= *last) {
            add_names(*first, *last);
            return runs;
        }
    }
    const auto items = parse_list(option);
    if (!items) {
        return std::nullopt;
    }
    for (const auto& item : *items) {
        if (!isa_index(item)) {
            return std::nullopt;
        }
    }
    reserve_runs(runs, items->size(), c.env.available_memory());
    for (const auto& item : *items) {
        runs.push_back(make(*isa_index(item)));
    }
    return runs;
}

} // namespace kestrix
