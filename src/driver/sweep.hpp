#pragma once
// The harness's sweep variables: option strings turned into planned runs.
#include "driver/config.hpp"
#include "driver/request.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

template <typename T> struct sweep_range {
    T start{};
    T end{};
    T step{};
    bool operator==(const sweep_range&) const = default;
};

std::optional<sweep_range<std::uint32_t>> parse_range(std::string_view text, std::uint32_t s0,
                                                      std::uint32_t e0, std::uint32_t t0);
std::optional<sweep_range<std::uint64_t>> parse_range(std::string_view text, std::uint64_t s0,
                                                      std::uint64_t e0, std::uint64_t t0);
std::optional<std::vector<std::string>> parse_list(std::string_view text);

std::uint32_t max_threads_for_size(const cpu_topology& topology, std::uint64_t size,
                                   std::uint64_t available_memory);

struct run_env;

namespace bench_box {
// One sweep point: its label, its estimate and the request it runs, with the scores of its
// sub-runs as they complete.
struct harness_run {
    std::string label;
    std::uint32_t estimate_seconds = 0;
    run_request request;
    std::vector<std::optional<double>> scores;
};
} // namespace bench_box

using run_list = std::vector<bench_box::harness_run>;

// What the sweep points are built from: the requested run, and the environment for the free
// memory and the topology.
struct sweep_context {
    const run_request& base;
    const run_env& env;
};

// What one planned run costs in memory, with a margin: the record itself and the heap block of
// its callable (measured at 1.5 records; a sweep point's label fits the string's own buffer). A
// plan is refused when its runs would not fit into the free memory.
inline constexpr std::uint64_t planned_run_bytes = 2 * sizeof(bench_box::harness_run);

// A sweep too long to plan in memory throws std::bad_alloc.
struct h_none_var {
    static std::optional<run_list> gen(std::string_view option, const sweep_context& c);
};
struct h_size_var {
    static std::optional<run_list> gen(std::string_view option, const sweep_context& c);
};
struct h_dur_var {
    static std::optional<run_list> gen(std::string_view option, const sweep_context& c);
};
struct h_threads_var {
    static std::optional<run_list> gen(std::string_view option, const sweep_context& c);
    // gen with the thread limit T given.
    static std::optional<run_list> gen_for(std::string_view option, const sweep_context& c,
                                           std::uint32_t limit);
};
struct h_isa_var {
    static std::optional<run_list> gen(std::string_view option, const sweep_context& c);
};

} // namespace kestrix
