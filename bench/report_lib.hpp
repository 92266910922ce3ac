#pragma once
// The parts of bench_report that are plain computation: its options, the bandwidth and
// stencil probes, and the grouping of variants by kernel family.
#include "solver/solver.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {
struct field_grid;
}

namespace kestrix::bench {

struct options {
    std::uint64_t reps = 5;
    double min_time = 0.3;
    std::vector<std::uint64_t> sizes{24, 64, 128, 192}; // 24: both arrays in L2
    std::vector<std::uint64_t> threads;                 // default 1 and all
    std::vector<std::string> isas;                      // default all nine
    std::uint64_t probe_mib = 2048;
    std::uint64_t large_size = 192;
    bool pin = false;
    bool reserve = false; // reserve the large-page section's huge pages itself (root)
    std::vector<std::string> sections{"main", "energy", "overhead", "large"};
};

extern const char* const usage_text;

// The arguments after the program name; cores stands in for "all" threads. None for anything
// malformed or out of range.
std::optional<options> parse_options(const std::vector<std::string_view>& args,
                                     std::uint64_t cores);

bool has_section(const options& o, std::string_view s);

// The edge the targets name when the report measured it, else the fallback.
std::uint64_t pick_size(const options& o, std::uint64_t wanted, std::uint64_t fallback);

// The family of a valid isa name.
kernel_family family_of_name(std::string_view isa);

// The first of the chosen variants of every kernel family, in their order: variants of one
// family step the same kernels.
std::vector<std::string> one_per_family(const std::vector<std::string>& isas);

// "avx512f, avx10-2-512": the variant and the other chosen ones of its family.
std::string family_label(const options& o, const std::string& isa);

// y[i] += s * x[i] for i < n: two streams read, one written back, 24 bytes per element.
void probe_pass(double* y, const double* x, double s, std::uint64_t n);

// One step's worth of the kernels' memory traffic without their arithmetic: each half-step
// updates one array in place from the same cell and its x and y neighbours of the other,
// over the kernels' loop bounds. It stores every value back unchanged. With ahead > 0 it
// walks cell by cell and prefetches each of its four streams ahead bytes on.
void stencil_step(field_grid& g, std::uint64_t ahead = 0);

// The energy pass's reads without its arithmetic: both arrays over its bounds, optionally
// prefetched ahead bytes on; the sum of everything read.
double read_probe(const field_grid& g, std::uint64_t ahead);
// The energy pass's memory traffic without its arithmetic: the read probe's, plus H one plane
// and one row below each cell (the pass averages each H component with its lower neighbour, so
// the previous plane and row come back a second time, from cache or memory); with ahead > 0 it
// prefetches E, H and the previous plane as the pass does. The sum of everything read.
double pattern_probe(const field_grid& g, std::uint64_t ahead);

inline constexpr std::string_view stencil_name = "(stencil probe)";
inline constexpr std::string_view stencil_prefetch_name = "(stencil probe, prefetch)";
// The distances the prefetching probes try at every edge and thread count; the best counts.
inline constexpr std::uint64_t probe_distances[] = {512, 1024, 2048, 3072, 4096, 6144};

} // namespace kestrix::bench
