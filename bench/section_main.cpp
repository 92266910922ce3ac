// The bandwidth probe y[i] += s * x[i] over arrays far beyond the last-level cache: two
// streams read, one written back onto a line already read, 24 bytes per element, the same
// traffic mix as a half-step of the solver when two x-planes stay in cache (96 bytes per
// counted update). Each repetition measures probe, variant, probe, variant, ..., probe; a
// variant's fraction of the roofline is its rate over the mean of the two probes around it.
// The tables give medians over the repetitions, whose order of variants rotates.
// Two stencil probes step the kernels' own pattern among the variants: plain, and prefetching
// every stream at the best of a few distances (tried at each edge and thread count before the
// repetitions). A variant's ceiling is the lower of the better probe of its repetition and
// its own rate with the grid in cache (the smallest edge measured, when below 48).
#include "markdown.hpp"
#include "report_stats.hpp"
#include "sections.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

namespace kestrix::bench {
namespace {

struct variant_row {
    std::vector<double> mgups;
    std::vector<double> roof;  // roofline MGups around each measurement
    std::vector<double> probe; // the better stencil probe of the same repetition
};

using row_key = std::tuple<std::uint64_t, std::uint64_t, std::string>; // threads, N, isa

struct measured {
    std::map<row_key, variant_row> rows;
    std::map<std::uint64_t, std::vector<double>> probe_gbs;                 // per thread count
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t> ahead; // threads, N
};

std::vector<std::string> with_stencil(const options& o) {
    std::vector<std::string> names = o.isas;
    names.emplace_back(stencil_name);
    names.emplace_back(stencil_prefetch_name);
    return names;
}

bool is_probe(const std::string& name) {
    return name == stencil_name || name == stencil_prefetch_name;
}

// The prefetching probe's best distance on this grid: two rounds over the candidates.
std::uint64_t tune_probe(crew& c, step_plan& plan, const options& o) {
    const std::string name(stencil_prefetch_name);
    const std::uint64_t k = plan.get(c, name, o.min_time / 2, false);
    std::map<std::uint64_t, double> best;
    for (int round = 0; round < 2; ++round) {
        for (std::uint64_t ahead : probe_distances) {
            double warm = 0.0;
            const double rate = measure_kernels(c, name, k, false, warm, ahead);
            best[ahead] = std::max(best[ahead], rate);
        }
    }
    std::uint64_t pick = probe_distances[0];
    for (const auto& [ahead, rate] : best) {
        if (rate > best[pick]) {
            pick = ahead;
        }
    }
    return pick;
}

// The smallest edge measured when the grid stays in cache there, else 0.
std::uint64_t in_cache_size(const options& o) {
    const std::uint64_t n = *std::min_element(o.sizes.begin(), o.sizes.end());
    return n < 48 ? n : 0;
}

// The lower of the variant's ceilings in each repetition: the better stencil probe, and the
// variant's median rate with the grid in cache.
std::vector<double> ceilings(const measured& m, const variant_row& row, std::uint64_t t,
                             const std::string& isa, std::uint64_t small) {
    std::vector<double> out = row.probe;
    auto it = m.rows.find({t, small, isa});
    if (small != 0 && it != m.rows.end()) {
        const double cached = median(it->second.mgups);
        for (double& c : out) {
            c = std::min(c, cached);
        }
    }
    return out;
}
bool measure(const options& o, measured& m) {
    const std::vector<std::string> order = with_stencil(o);
    for (std::uint64_t t : o.threads) {
        crew c(t, o.pin);
        if (auto err = allocate_probe(c, o.probe_mib << 20)) {
            note(*err);
            return false;
        }
        measure_probe(c); // the first pass after the first touch is not counted
        for (std::uint64_t n : o.sizes) {
            if (auto err = build_grids(c, n, true, false)) {
                note(fmt::format("grid N = {} with {} threads: {}", n, t, *err));
                return false;
            }
            step_plan plan;
            const std::uint64_t ahead = tune_probe(c, plan, o);
            m.ahead[{t, n}] = ahead;
            for (std::uint64_t r = 0; r < o.reps; ++r) {
                note(fmt::format("main: {} thread(s), N = {}, repetition {}/{}", t, n, r + 1,
                                 o.reps));
                double before = measure_probe(c);
                m.probe_gbs[t].push_back(before / 1e9);
                for (std::size_t v = 0; v < order.size(); ++v) {
                    const std::string& isa = order[(v + r) % order.size()];
                    const std::uint64_t k = plan.get(c, isa, o.min_time, false);
                    double warm = 0.0;
                    const double rate = measure_kernels(c, isa, k, false, warm, ahead);
                    const double after = measure_probe(c);
                    m.probe_gbs[t].push_back(after / 1e9);
                    variant_row& row = m.rows[{t, n, isa}];
                    row.mgups.push_back(rate);
                    row.roof.push_back((before + after) / 2.0 / bytes_per_update / 1e6);
                    before = after;
                }
                const double probe =
                    std::max(m.rows[{t, n, std::string(stencil_name)}].mgups.back(),
                             m.rows[{t, n, std::string(stencil_prefetch_name)}].mgups.back());
                for (const auto& isa : order) {
                    m.rows[{t, n, isa}].probe.push_back(probe);
                }
            }
            release_grids(c);
        }
    }
    return true;
}

void print_tables(const options& o, const measured& m) {
    md::heading(fmt::format("Bandwidth probe y[i] += s*x[i] ({} MiB in all, 24 B per element)",
                            o.probe_mib));
    md::table_head({{"threads"}, {"GB/s (median)"}, {"spread"}, {"roofline MGups at 96 B/update"}});
    for (const auto& [t, values] : m.probe_gbs) {
        const double gbs = median(values);
        md::row(t, md::fixed(gbs, 1), md::percent(relative_spread(values)),
                md::fixed(gbs * 1e9 / bytes_per_update / 1e6, 0));
    }
    md::heading("Variants beside the roofline (bare kernels, standing-wave fields)");
    md::table_head({{"variant", false},
                    {"N"},
                    {"threads"},
                    {"MGups"},
                    {"GB/s at 96 B"},
                    {"roofline MGups"},
                    {"% of roofline"},
                    {"ceiling MGups"},
                    {"% of ceiling"},
                    {"spread"}});
    const std::uint64_t small = in_cache_size(o);
    for (std::uint64_t n : o.sizes) {
        for (std::uint64_t t : o.threads) {
            for (const auto& isa : with_stencil(o)) {
                auto it = m.rows.find({t, n, isa});
                if (it == m.rows.end()) {
                    continue;
                }
                const variant_row& row = it->second;
                const double rate = median(row.mgups);
                const std::vector<double> ceiling = ceilings(m, row, t, isa, small);
                const bool rated = !is_probe(isa) && n != small;
                std::string name = isa;
                if (isa == stencil_prefetch_name) {
                    name = fmt::format("(stencil probe, prefetch {} B)", m.ahead.at({t, n}));
                }
                md::row(name, n, t, md::fixed(rate, 0),
                        md::fixed(rate * 1e6 * bytes_per_update / 1e9, 1),
                        md::fixed(median(row.roof), 0),
                        md::percent(median_ratio(row.mgups, row.roof)),
                        rated ? md::fixed(median(ceiling), 0) : std::string("-"),
                        rated ? md::percent(median_ratio(row.mgups, ceiling)) : std::string("-"),
                        md::percent(relative_spread(row.mgups)));
            }
        }
    }
}

void print_targets(const options& o, const measured& m) {
    md::heading("Targets (ratios of measurements taken in the same repetition)");
    auto ratio = [&](std::uint64_t t, std::uint64_t n, const std::string& a,
                     const std::string& b) -> std::optional<double> {
        auto ia = m.rows.find({t, n, a});
        auto ib = m.rows.find({t, n, b});
        if (ia == m.rows.end() || ib == m.rows.end()) {
            return std::nullopt;
        }
        return median_ratio(ia->second.mgups, ib->second.mgups);
    };
    auto met = [](bool ok) { return ok ? "met" : "not met"; };
    const std::uint64_t big = pick_size(o, 192, 0); // 0: not measured, no line
    for (std::uint64_t t : o.threads) {
        std::string worst;
        double lowest = 1e9;
        for (const auto& isa : o.isas) {
            auto it = m.rows.find({t, big, isa});
            if (it == m.rows.end()) {
                continue;
            }
            const double f = median_ratio(it->second.mgups, it->second.roof);
            if (f < lowest) {
                lowest = f;
                worst = isa;
            }
        }
        if (!worst.empty()) {
            md::item("N = {}, {} thread(s): lowest fraction of the roofline {:.0f} % ({}); "
                     "target 85 %: {}",
                     big, t, 100.0 * lowest, worst, met(lowest >= 0.85));
        }
    }
    // Memory-bound edges: every variant at the lower of its two ceilings.
    const std::uint64_t cached = in_cache_size(o);
    for (std::uint64_t n : o.sizes) {
        if (n < 192) {
            continue;
        }
        for (std::uint64_t t : o.threads) {
            std::string worst;
            double lowest = 1e9;
            for (const auto& isa : o.isas) {
                auto it = m.rows.find({t, n, isa});
                if (it == m.rows.end()) {
                    continue;
                }
                const double f =
                    median_ratio(it->second.mgups, ceilings(m, it->second, t, isa, cached));
                if (f < lowest) {
                    lowest = f;
                    worst = isa;
                }
            }
            if (!worst.empty()) {
                md::item("N = {}, {} thread(s): lowest fraction of the ceiling {:.0f} % ({}); "
                         "target 95 %: {}",
                         n, t, 100.0 * lowest, worst, met(lowest >= 0.95));
            }
        }
    }
    const std::uint64_t small = pick_size(o, 64, 0);
    for (const char* fused : {"fma", "fma-apx", "avx512vl", "avx10-2-256"}) {
        if (auto r = ratio(1, small, fused, "sse2")) {
            md::item("N = {}, 1 thread: {} / sse2 = {:.2f}; target 1.5: {}", small, fused, *r,
                     met(*r >= 1.5));
        }
    }
    if (auto r = ratio(1, small, "avx512f", "fma")) {
        md::item("N = {}, 1 thread: avx512f / fma = {:.2f}; target 1.0: {}", small, *r,
                 met(*r >= 1.0));
    }
}

} // namespace

bool section_main(const options& o) {
    measured m;
    if (!measure(o, m)) {
        return false;
    }
    print_tables(o, m);
    print_targets(o, m);
    return true;
}

} // namespace kestrix::bench
