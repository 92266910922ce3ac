#include "crew.hpp"

#include "platform/topology.hpp"
#include "report_lib.hpp"
#include "solver/family_table.hpp"

#include <algorithm>
#include <chrono>

namespace kestrix::bench {

double now_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

threading_manager pin_list(std::size_t count) {
    threading_manager m;
    m.thread_count = static_cast<std::uint32_t>(count);
    const std::vector<logical> phte = build_placement(placement_policy::phte, detect_topology());
    for (std::size_t i = 0; i < count && !phte.empty(); ++i) {
        m.placement.push_back(phte[i % phte.size()]);
    }
    return m;
}

// Probe arrays split over the threads, first touched by their own thread.
std::optional<std::string> allocate_probe(crew& c, std::uint64_t total_bytes) {
    const std::uint64_t per_thread = total_bytes / c.size() / 16;
    c.run([per_thread](std::uint32_t, lane& l) {
        l.px = static_cast<double*>(kestrix::aligned_allocate(per_thread * sizeof(double)));
        l.py = static_cast<double*>(kestrix::aligned_allocate(per_thread * sizeof(double)));
        if (l.px == nullptr || l.py == nullptr) {
            l.error = "probe allocation failed";
            return;
        }
        for (std::uint64_t i = 0; i < per_thread; ++i) {
            l.px[i] = 1.0;
            l.py[i] = 0.0;
        }
        l.probe_elements = per_thread;
    });
    return c.error();
}

// Summed bandwidth of all threads in bytes per second (each thread's bytes over its own time,
// as the program sums its workers' rates).
double measure_probe(crew& c) {
    c.run([](std::uint32_t, lane& l) {
        const double t0 = now_seconds();
        probe_pass(l.py, l.px, 0.5, l.probe_elements);
        l.seconds = now_seconds() - t0;
    });
    double total = 0.0;
    for (const auto& l : c.lanes()) {
        total += bytes_per_probe_element * static_cast<double>(l.probe_elements) / l.seconds;
    }
    return total;
}

// One warm-up step, then `steps` timed steps of the family's bare kernels on every thread.
// Returns the summed MGups; warm is the slowest warm-up step in seconds.
// The stencil probes stand in for a variant under their own names, the prefetching one
// prefetching ahead bytes on.
double measure_kernels(crew& c, const std::string& isa, std::uint64_t steps, bool large,
                       double& warm, std::uint64_t ahead) {
    const bool stencil = isa == stencil_name || isa == stencil_prefetch_name;
    if (isa != stencil_prefetch_name) {
        ahead = 0;
    }
    const kestrix::family_entry& code =
        kestrix::family_code(stencil ? kestrix::kernel_family::scalar_sse2 : family_of_name(isa));
    c.run([&code, steps, large, stencil, ahead](std::uint32_t, lane& l) {
        field_grid& g = *(large ? l.large.grid : l.normal.grid);
        auto one = [&] {
            if (stencil) {
                stencil_step(g, ahead);
                return true;
            }
            return code.update_h(g) && code.update_e(g);
        };
        const double t0 = now_seconds();
        bool ok = one();
        const double t1 = now_seconds();
        for (std::uint64_t i = 0; i < steps && ok; ++i) {
            ok = one();
        }
        l.seconds = now_seconds() - t1;
        l.warm_seconds = t1 - t0;
        l.steps = steps;
        if (!ok) {
            l.error = "kernel failed";
        }
    });
    double rate = 0.0;
    warm = 0.0;
    for (const auto& l : c.lanes()) {
        const field_grid& g = *(large ? l.large.grid : l.normal.grid);
        const double n = static_cast<double>(g.e.edge - 2);
        rate += 2.0 * n * n * n * static_cast<double>(l.steps) / l.seconds / 1e6;
        warm = std::max(warm, l.warm_seconds);
    }
    return rate;
}

std::optional<std::string> build_grids(crew& c, std::uint64_t n, bool normal, bool large) {
    c.run([n, normal, large](std::uint32_t index, lane& l) {
        if (normal) {
            l.error = l.normal.build(n, false, index);
        }
        if (large && !l.error) {
            l.error = l.large.build(n, true, index);
        }
    });
    return c.error();
}

void release_grids(crew& c) {
    c.run([](std::uint32_t, lane& l) {
        l.normal.reset();
        l.large.reset();
    });
}

} // namespace kestrix::bench
