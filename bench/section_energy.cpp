// The soft Gaussian checks its ratio after every step with a full energy pass: its cost next
// to the step, on one thread.
#include "markdown.hpp"
#include "report_stats.hpp"
#include "sections.hpp"
#include "solver/family_table.hpp"

#include <fmt/format.h>

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

} // namespace

void section_energy(const options& o) {
    crew c(1, o.pin);
    md::heading("Soft Gaussian: the full energy pass after every step (1 thread)");
    md::table_head({{"variant", false},
                    {"N"},
                    {"step ms"},
                    {"energy pass ms"},
                    {"pass / step"},
                    {"step rate kept"}});
    for (std::uint64_t n : o.sizes) {
        if (auto err = build_grids(c, n, true, false)) {
            note(*err);
            return;
        }
        step_plan plan;
        std::map<std::string, std::vector<double>> step_s;
        std::map<std::string, std::vector<double>> pass_s;
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
            }
        }
        for (const auto& isa : o.isas) {
            const double ratio = median_ratio(pass_s[isa], step_s[isa]);
            md::row(isa, n, md::fixed(1e3 * median(step_s[isa]), 2),
                    md::fixed(1e3 * median(pass_s[isa]), 2), md::fixed(ratio, 2),
                    md::percent(1.0 / (1.0 + ratio)));
        }
        release_grids(c);
    }
}

} // namespace kestrix::bench
