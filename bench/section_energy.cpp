// The soft Gaussian checks its ratio after every step with a full energy pass: its cost next
// to the step, and its speed against a read-only probe of the same two arrays (plain and
// prefetching at a few distances, the best of each repetition), on one thread.
#include "markdown.hpp"
#include "report_stats.hpp"
#include "sections.hpp"
#include "solver/family_table.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <vector>

namespace kestrix::bench {
namespace {

double (*energy_pass_of(const std::string& isa))(const field_grid&) {
    if (isa == "avx2") {
        return avx2::total_energy;
    }
    return family_code(family_of_name(isa)).total_energy;
}

// Seconds per pass of the read probe, the best of plain and every prefetch distance.
double read_probe_seconds(crew& c, std::uint64_t k) {
    double best = 1e30;
    std::vector<std::uint64_t> distances{0};
    distances.insert(distances.end(), std::begin(probe_distances), std::end(probe_distances));
    for (std::uint64_t ahead : distances) {
        c.run([ahead, k](std::uint32_t, lane& l) {
            volatile double sink = 0.0;
            const double t0 = now_seconds();
            for (std::uint64_t i = 0; i < k; ++i) {
                sink = sink + read_probe(*l.normal.grid, ahead);
            }
            l.seconds = (now_seconds() - t0) / static_cast<double>(k);
        });
        best = std::min(best, c.lanes()[0].seconds);
    }
    return best;
}

} // namespace

void section_energy(const options& o) {
    crew c(1, o.pin);
    md::heading("Soft Gaussian: the full energy pass after every step (1 thread)");
    md::table_head({{"variant", false},
                    {"N"},
                    {"step ms"},
                    {"energy pass ms"},
                    {"pass / step"},
                    {"step rate kept"},
                    {"read probe ms"},
                    {"pass at % of probe"}});
    std::string worst;
    double lowest = 1e9;
    const std::uint64_t big = *std::max_element(o.sizes.begin(), o.sizes.end());
    for (std::uint64_t n : o.sizes) {
        if (auto err = build_grids(c, n, true, false)) {
            note(*err);
            return;
        }
        step_plan plan;
        std::map<std::string, std::vector<double>> step_s;
        std::map<std::string, std::vector<double>> pass_s;
        std::map<std::string, std::vector<double>> probe_s; // beside each pass
        for (std::uint64_t r = 0; r < o.reps; ++r) {
            note(fmt::format("energy: N = {}, repetition {}/{}", n, r + 1, o.reps));
            for (std::size_t v = 0; v < o.isas.size(); ++v) {
                const std::string& isa = o.isas[(v + r) % o.isas.size()];
                const std::uint64_t k = plan.get(c, isa, o.min_time / 2, false);
                double warm = 0.0;
                measure_kernels(c, isa, k, false, warm);
                step_s[isa].push_back(c.lanes()[0].seconds / static_cast<double>(k));
                auto pass = energy_pass_of(isa);
                c.run([pass, k](std::uint32_t, lane& l) {
                    volatile double sink = 0.0;
                    const double t0 = now_seconds();
                    for (std::uint64_t i = 0; i < k; ++i) {
                        sink = sink + pass(*l.normal.grid);
                    }
                    l.seconds = (now_seconds() - t0) / static_cast<double>(k);
                });
                pass_s[isa].push_back(c.lanes()[0].seconds);
                probe_s[isa].push_back(read_probe_seconds(c, k));
            }
        }
        for (const auto& isa : o.isas) {
            const double ratio = median_ratio(pass_s[isa], step_s[isa]);
            const double of_probe = median_ratio(probe_s[isa], pass_s[isa]);
            md::row(isa, n, md::fixed(1e3 * median(step_s[isa]), 2),
                    md::fixed(1e3 * median(pass_s[isa]), 2), md::fixed(ratio, 2),
                    md::percent(1.0 / (1.0 + ratio)), md::fixed(1e3 * median(probe_s[isa]), 2),
                    md::percent(of_probe));
            if (n == big && of_probe < lowest) {
                lowest = of_probe;
                worst = isa;
            }
        }
        release_grids(c);
    }
    if (!worst.empty()) {
        md::item("N = {}: lowest energy pass speed against the read probe {:.0f} % ({}); "
                 "target 95 %: {}",
                 big, 100.0 * lowest, worst, lowest >= 0.95 ? "met" : "not met");
    }
}

} // namespace kestrix::bench
