// bench_prefetch: picks the kernels' prefetch distance. It compiles the families' kernels and
// the energy pass once per candidate distance and steps them, interleaved, on the report's
// standing-wave grids; the prefetching stencil and read probes take their distance at run
// time. Prints the median rate of each distance and its median ratio to the first one listed.
//   bench_prefetch KIND [--sizes 128,192,384] [--threads 1,2] [--reps 5] [--min-time 0.3]
//   KIND: sse2, fma, avx512f, energy, stencil or read
#include "solver/variants/prelude.hpp"

#include "crew.hpp"
#include "report_lib.hpp"
#include "report_stats.hpp"

#include <fmt/format.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <map>
#include <string_view>
#include <vector>

#define KX_TUNE_NS d0
#define KX_TUNE_D 0
#include "prefetch_tune_family.inc"
#undef KX_TUNE_NS
#undef KX_TUNE_D
#define KX_TUNE_NS d512
#define KX_TUNE_D 512
#include "prefetch_tune_family.inc"
#undef KX_TUNE_NS
#undef KX_TUNE_D
#define KX_TUNE_NS d1024
#define KX_TUNE_D 1024
#include "prefetch_tune_family.inc"
#undef KX_TUNE_NS
#undef KX_TUNE_D
#define KX_TUNE_NS d1536
#define KX_TUNE_D 1536
#include "prefetch_tune_family.inc"
#undef KX_TUNE_NS
#undef KX_TUNE_D
#define KX_TUNE_NS d2048
#define KX_TUNE_D 2048
#include "prefetch_tune_family.inc"
#undef KX_TUNE_NS
#undef KX_TUNE_D
#define KX_TUNE_NS d3072
#define KX_TUNE_D 3072
#include "prefetch_tune_family.inc"
#undef KX_TUNE_NS
#undef KX_TUNE_D
#define KX_TUNE_NS d4096
#define KX_TUNE_D 4096
#include "prefetch_tune_family.inc"
#undef KX_TUNE_NS
#undef KX_TUNE_D
#define KX_TUNE_NS d6144
#define KX_TUNE_D 6144
#include "prefetch_tune_family.inc"
#undef KX_TUNE_NS
#undef KX_TUNE_D
#define KX_TUNE_NS d8192
#define KX_TUNE_D 8192
#include "prefetch_tune_family.inc"
#undef KX_TUNE_NS
#undef KX_TUNE_D

namespace kb = kestrix::bench;
using kestrix::field_grid;

namespace {

struct candidate {
    std::uint64_t distance;
    bool (*h[3])(field_grid&);
    bool (*e[3])(field_grid&);
    double (*energy)(const field_grid&);
};

#define KX_CANDIDATE(ns, dist)                                                                     \
    candidate {                                                                                    \
        dist, {kb::ns::sse2::update_h, kb::ns::fma::update_h, kb::ns::avx512f::update_h},          \
            {kb::ns::sse2::update_e, kb::ns::fma::update_e, kb::ns::avx512f::update_e},            \
            kb::ns::sse2::total_energy                                                             \
    }

const std::array<candidate, 9> candidates = {
    KX_CANDIDATE(d0, 0),       KX_CANDIDATE(d512, 512),   KX_CANDIDATE(d1024, 1024),
    KX_CANDIDATE(d1536, 1536), KX_CANDIDATE(d2048, 2048), KX_CANDIDATE(d3072, 3072),
    KX_CANDIDATE(d4096, 4096), KX_CANDIDATE(d6144, 6144), KX_CANDIDATE(d8192, 8192)};

std::vector<std::uint64_t> parse_list(std::string_view s) {
    std::vector<std::uint64_t> out;
    while (!s.empty()) {
        const std::size_t comma = s.find(',');
        const std::string_view part = s.substr(0, comma);
        std::uint64_t v = 0;
        std::from_chars(part.data(), part.data() + part.size(), v);
        out.push_back(v);
        s = comma == std::string_view::npos ? std::string_view{} : s.substr(comma + 1);
    }
    return out;
}

// Runs `steps` passes of the candidate on every lane; the summed rate in million cells per
// second (two updates per cell and step for the kernels, one read of both arrays otherwise).
double measure(kb::crew& c, std::string_view kind, const candidate& k, std::uint64_t steps) {
    const int f = kind == "sse2" ? 0 : kind == "fma" ? 1 : 2;
    c.run([&](std::uint32_t, kb::lane& l) {
        field_grid& g = *l.normal.grid;
        volatile double sink = 0.0;
        const double t0 = kb::now_seconds();
        for (std::uint64_t i = 0; i < steps; ++i) {
            if (kind == "energy") {
                sink = sink + k.energy(g);
            } else if (kind == "read") {
                sink = sink + kb::read_probe(g, k.distance);
            } else if (kind == "stencil") {
                kb::stencil_step(g, k.distance);
            } else {
                k.h[f](g);
                k.e[f](g);
            }
        }
        l.seconds = kb::now_seconds() - t0;
        l.steps = steps;
    });
    const bool kernels = kind != "energy" && kind != "read";
    double rate = 0.0;
    for (const auto& l : c.lanes()) {
        const double n = static_cast<double>(l.normal.grid->e.edge - 2);
        rate += (kernels ? 2.0 : 1.0) * n * n * n * static_cast<double>(l.steps) / l.seconds / 1e6;
    }
    return rate;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: bench_prefetch sse2|fma|avx512f|energy|stencil|read [--sizes L] "
                   "[--threads L] [--reps R] [--min-time S]\n",
                   stderr);
        return 1;
    }
    const std::string_view kind = argv[1];
    std::vector<std::uint64_t> sizes{128, 192, 384};
    std::vector<std::uint64_t> threads{1, 2};
    std::uint64_t reps = 5;
    double min_time = 0.3;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string_view a = argv[i];
        if (a == "--sizes") {
            sizes = parse_list(argv[i + 1]);
        } else if (a == "--threads") {
            threads = parse_list(argv[i + 1]);
        } else if (a == "--reps") {
            reps = parse_list(argv[i + 1]).at(0);
        } else if (a == "--min-time") {
            min_time = std::stod(argv[i + 1]);
        }
    }
    fmt::print("{}: distance, MGups (median), ratio to distance {} (median of {} interleaved)\n",
               kind, candidates[0].distance, reps);
    for (std::uint64_t t : threads) {
        kb::crew c(t, false);
        for (std::uint64_t n : sizes) {
            if (auto err = kb::build_grids(c, n, true, false)) {
                fmt::print(stderr, "{}\n", *err);
                return 1;
            }
            const double once = measure(c, kind, candidates[0], 1);
            const double cells = (kind == "energy" || kind == "read" ? 1.0 : 2.0) *
                                 static_cast<double>(n * n * n) * static_cast<double>(t);
            const auto steps = std::max<std::uint64_t>(
                1, static_cast<std::uint64_t>(min_time * once * 1e6 / cells));
            std::map<std::uint64_t, std::vector<double>> rate;
            for (std::uint64_t r = 0; r < reps; ++r) {
                for (std::size_t v = 0; v < candidates.size(); ++v) {
                    const candidate& k = candidates[(v + r) % candidates.size()];
                    rate[k.distance].push_back(measure(c, kind, k, steps));
                }
            }
            for (const auto& k : candidates) {
                fmt::print("N {} threads {} distance {:5}: {:7.0f}  ratio {:.3f}\n", n, t,
                           k.distance, kb::median(rate[k.distance]),
                           kb::median_ratio(rate[k.distance], rate[candidates[0].distance]));
            }
            std::fflush(stdout);
            kb::release_grids(c);
        }
    }
    return 0;
}
