// Large pages next to 4 KiB pages: one variant per kernel family steps a grid of each kind in
// the same repetition, in alternating order.
#include "markdown.hpp"
#include "platform/memory.hpp"
#include "report_stats.hpp"
#include "sections.hpp"
#include "support/huge_pages.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace kestrix::bench {

void section_large(const options& o) {
    const std::vector<std::string> families = one_per_family(o.isas);
    const std::uint64_t n = o.large_size;
    const std::uint64_t page = large_page_minimum();
    const std::uint64_t array_bytes = 32 * (n + 2) * (n + 2) * (n + 2);
    const std::uint64_t pages_per_thread =
        page == 0 ? 0 : 2 * (round_to_large_page(array_bytes, page) / page);
    md::heading(fmt::format("Large pages at N = {} (bare kernels, same repetition)", n));
    // Raised for this section only, so that the machine's other users see the reservation
    // changed for as short a time as possible.
    std::optional<test::huge_page_reservation> reservation;
    if (o.reserve && page != 0) {
        reservation.emplace(static_cast<long>(
            pages_per_thread * *std::max_element(o.threads.begin(), o.threads.end()) + 8));
        note(fmt::format("huge pages reserved: {} (were {})", test::read_huge_pages(),
                         reservation->previous()));
    }
    for (std::uint64_t t : o.threads) {
        crew c(t, o.pin);
        if (auto err = build_grids(c, n, true, true)) {
            fmt::print("{} thread(s): no large-page grid ({}); reserve at least {} huge pages of "
                       "{} KiB (as root: echo {} > /proc/sys/vm/nr_hugepages) and rerun\n\n",
                       t, *err, pages_per_thread * t, page / 1024, pages_per_thread * t);
            release_grids(c);
            continue;
        }
        if (t == o.threads.front()) {
            md::table_head({{"variants (one kernel family)", false},
                            {"threads"},
                            {"MGups 4 KiB pages"},
                            {"MGups large pages"},
                            {"large / small"}});
        }
        step_plan plan;
        std::map<std::string, std::vector<double>> small_rate;
        std::map<std::string, std::vector<double>> large_rate;
        for (std::uint64_t r = 0; r < o.reps; ++r) {
            note(fmt::format("large pages: {} thread(s), repetition {}/{}", t, r + 1, o.reps));
            for (std::size_t v = 0; v < families.size(); ++v) {
                const std::string& isa = families[(v + r) % families.size()];
                const std::uint64_t k = plan.get(c, isa, o.min_time, false);
                double warm = 0.0;
                const bool large_first = (r + v) % 2 == 1;
                const double first = measure_kernels(c, isa, k, large_first, warm);
                const double second = measure_kernels(c, isa, k, !large_first, warm);
                small_rate[isa].push_back(large_first ? second : first);
                large_rate[isa].push_back(large_first ? first : second);
            }
        }
        for (const auto& isa : families) {
            md::row(family_label(o, isa), t, md::fixed(median(small_rate[isa]), 0),
                    md::fixed(median(large_rate[isa]), 0),
                    md::fixed(median_ratio(large_rate[isa], small_rate[isa]), 3));
        }
        release_grids(c);
    }
    if (reservation) {
        reservation.reset();
        note(fmt::format("huge pages back to {}", test::read_huge_pages()));
    }
}

} // namespace kestrix::bench
