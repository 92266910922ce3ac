#include "report_lib.hpp"

#include "platform/isa.hpp"
#include "report_stats.hpp"
#include "solver/family_table.hpp"
#include "solver/field.hpp"

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>

namespace kestrix::bench {

// Out of line so the probe loop is compiled once, as plain baseline code, and cannot be
// folded into its caller.
[[gnu::noinline]] void probe_pass(double* y, const double* x, double s, std::uint64_t n) {
    for (std::uint64_t i = 0; i < n; ++i) {
        y[i] += s * x[i];
    }
}

// The solver's access pattern without its arithmetic: one half-step updates one array in
// place from the same cell and its x and y neighbours of the other, over the kernels' loop
// bounds, so it moves the lines a half-step moves. Its rate against the bandwidth probe shows
// what the pattern itself costs. The prefetching form walks the same cells one at a time and
// prefetches every stream `ahead` bytes on: what the pattern allows when the hardware
// prefetchers alone do not keep memory busy.
namespace {

[[gnu::noinline]] void stencil_half(double* __restrict out, const double* __restrict in,
                                    std::uint64_t d, std::int64_t x_step, std::int64_t y_step,
                                    std::uint64_t lo, std::uint64_t hi, double s) {
    const std::uint64_t row_doubles = 4 * (hi - lo + 1);
    for (std::uint64_t x = lo; x <= hi; ++x) {
        for (std::uint64_t y = lo; y <= hi; ++y) {
            const std::uint64_t row = 4 * ((x * d + y) * d + lo);
            double* o = out + row;
            const double* a = in + row;
            const double* bx = a + x_step;
            const double* by = a + y_step;
            for (std::uint64_t i = 0; i < row_doubles; ++i) {
                o[i] += s * ((bx[i] - a[i]) - (by[i] - a[i]));
            }
        }
    }
}

[[gnu::noinline]] void stencil_half_prefetch(double* __restrict out, const double* __restrict in,
                                             std::uint64_t d, std::int64_t x_step,
                                             std::int64_t y_step, std::uint64_t lo,
                                             std::uint64_t hi, double s, std::uint64_t ahead) {
    for (std::uint64_t x = lo; x <= hi; ++x) {
        for (std::uint64_t y = lo; y <= hi; ++y) {
            const std::uint64_t row = 4 * ((x * d + y) * d + lo);
            double* o = out + row;
            const double* a = in + row;
            const double* bx = a + x_step;
            const double* by = a + y_step;
            for (std::uint64_t z = lo; z <= hi; ++z) {
                __builtin_prefetch(reinterpret_cast<const char*>(o) + ahead);
                __builtin_prefetch(reinterpret_cast<const char*>(a) + ahead);
                __builtin_prefetch(reinterpret_cast<const char*>(bx) + ahead);
                __builtin_prefetch(reinterpret_cast<const char*>(by) + ahead);
                for (std::uint64_t i = 0; i < 4; ++i) {
                    o[i] += s * ((bx[i] - a[i]) - (by[i] - a[i]));
                }
                o += 4;
                a += 4;
                bx += 4;
                by += 4;
            }
        }
    }
}

volatile double stencil_scale = 0.0;

} // namespace

void stencil_step(field_grid& g, std::uint64_t ahead) {
    const std::uint64_t d = g.e.edge;
    const std::uint64_t n = d - 2;
    const auto plane = static_cast<std::int64_t>(4 * d * d);
    const auto row = static_cast<std::int64_t>(4 * d);
    double* const e = &g.e.cells[0].x;
    double* const h = &g.h.cells[0].x;
    // A zero coefficient, unknown to the compiler, stores every value back unchanged: the
    // standing-wave fields stay intact for the variants measured after it.
    const double s = stencil_scale;
    if (ahead == 0) {
        stencil_half(h, e, d, plane, row, 1, n - 1, s);
        stencil_half(e, h, d, -plane, -row, 2, n, s);
    } else {
        stencil_half_prefetch(h, e, d, plane, row, 1, n - 1, s, ahead);
        stencil_half_prefetch(e, h, d, -plane, -row, 2, n, s, ahead);
    }
}

// Reads both arrays over the energy pass's bounds, one lane-wise sum per component so that
// no chain of additions limits it.
double read_probe(const field_grid& g, std::uint64_t ahead) {
    const std::uint64_t d = g.e.edge;
    const std::uint64_t n = d - 2;
    double acc[4] = {0.0, 0.0, 0.0, 0.0};
    for (std::uint64_t x = 2; x <= n; ++x) {
        for (std::uint64_t y = 2; y <= n; ++y) {
            const std::uint64_t row = (x * d + y) * d + 2;
            const double* e = &g.e.cells[row].x;
            const double* h = &g.h.cells[row].x;
            for (std::uint64_t z = 2; z <= n; ++z) {
                if (ahead != 0) {
                    __builtin_prefetch(reinterpret_cast<const char*>(e) + ahead);
                    __builtin_prefetch(reinterpret_cast<const char*>(h) + ahead);
                }
                for (std::uint64_t i = 0; i < 4; ++i) {
                    acc[i] += e[i] + h[i];
                }
                e += 4;
                h += 4;
            }
        }
    }
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

// Reads what the energy pass reads, cell by cell, but for H's lower neighbour along z (in the
// line just read or the one before): both arrays, and H again one plane and one row below,
// which come back from a cache level further out or from memory. One lane-wise sum per
// component and stream, so that no chain of additions limits it.
double pattern_probe(const field_grid& g, std::uint64_t ahead) {
    const std::uint64_t d = g.e.edge;
    const std::uint64_t n = d - 2;
    // Two lanes per register: xy and zw of every stream, each into sums of its own. Written
    // out, so that the probe stays well ahead of memory whatever the compiler makes of loops.
    __m128d both_xy = _mm_setzero_pd();
    __m128d both_zw = _mm_setzero_pd();
    __m128d again_xy = _mm_setzero_pd();
    __m128d again_zw = _mm_setzero_pd();
    for (std::uint64_t x = 2; x <= n; ++x) {
        for (std::uint64_t y = 2; y <= n; ++y) {
            const std::uint64_t row = (x * d + y) * d + 2;
            const double* e = &g.e.cells[row].x;
            const double* h = &g.h.cells[row].x;
            const double* hx = &g.h.cells[row - d * d].x;
            const double* hy = &g.h.cells[row - d].x;
            for (std::uint64_t z = 2; z <= n; ++z) {
                if (ahead != 0) {
                    __builtin_prefetch(reinterpret_cast<const char*>(e) + ahead);
                    __builtin_prefetch(reinterpret_cast<const char*>(h) + ahead);
                    __builtin_prefetch(reinterpret_cast<const char*>(hx) + ahead);
                }
                both_xy = _mm_add_pd(both_xy, _mm_add_pd(_mm_loadu_pd(e), _mm_loadu_pd(h)));
                both_zw = _mm_add_pd(both_zw, _mm_add_pd(_mm_loadu_pd(e + 2), _mm_loadu_pd(h + 2)));
                again_xy = _mm_add_pd(again_xy, _mm_add_pd(_mm_loadu_pd(hx), _mm_loadu_pd(hy)));
                again_zw =
                    _mm_add_pd(again_zw, _mm_add_pd(_mm_loadu_pd(hx + 2), _mm_loadu_pd(hy + 2)));
                e += 4;
                h += 4;
                hx += 4;
                hy += 4;
            }
        }
    }
    const __m128d all = _mm_add_pd(_mm_add_pd(both_xy, both_zw), _mm_add_pd(again_xy, again_zw));
    return _mm_cvtsd_f64(all) + _mm_cvtsd_f64(_mm_unpackhi_pd(all, all));
}

bool has_section(const options& o, std::string_view s) {
    return std::find(o.sections.begin(), o.sections.end(), s) != o.sections.end();
}

std::uint64_t pick_size(const options& o, std::uint64_t wanted, std::uint64_t fallback) {
    return std::find(o.sizes.begin(), o.sizes.end(), wanted) != o.sizes.end() ? wanted : fallback;
}

const char* const usage_text =
    "usage: bench_report [--reps R] [--min-time S] [--sizes 24,64,128,192] [--threads 1,all]\n"
    "                    [--isa sse2,fma,...] [--probe-mib M] [--large-size N] [--pin]\n"
    "                    [--reserve-huge-pages]\n"
    "                    [--sections main,energy,overhead,large]\n";

std::optional<options> parse_options(const std::vector<std::string_view>& args,
                                     std::uint64_t cores) {
    options o;
    o.threads = cores > 1 ? std::vector<std::uint64_t>{1, cores} : std::vector<std::uint64_t>{1};
    o.isas.assign(isa_names.begin(), isa_names.end());
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--pin") {
            o.pin = true;
            continue;
        }
        if (arg == "--reserve-huge-pages") {
            o.reserve = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            return std::nullopt;
        }
        const std::string_view value = args[++i];
        auto one = [&](std::uint64_t& out) {
            const auto v = parse_count_list(value, 0);
            if (!v || v->size() != 1) {
                return false;
            }
            out = v->front();
            return true;
        };
        bool ok = true;
        if (arg == "--reps") {
            ok = one(o.reps);
        } else if (arg == "--probe-mib") {
            ok = one(o.probe_mib);
        } else if (arg == "--large-size") {
            ok = one(o.large_size);
        } else if (arg == "--min-time") {
            char* end = nullptr;
            const std::string text(value);
            o.min_time = std::strtod(text.c_str(), &end);
            ok = end != text.c_str() && *end == '\0' && o.min_time > 0.0 && o.min_time < 100.0;
        } else if (arg == "--sizes") {
            auto v = parse_count_list(value, 0);
            ok = v.has_value();
            if (ok) {
                o.sizes = *v;
            }
        } else if (arg == "--threads") {
            auto v = parse_count_list(value, cores);
            ok = v.has_value();
            if (ok) {
                o.threads = *v;
            }
        } else if (arg == "--isa") {
            o.isas = split_list(value);
            for (const auto& name : o.isas) {
                ok = ok && is_valid_isa_name(name);
            }
        } else if (arg == "--sections") {
            o.sections = split_list(value);
            for (const auto& s : o.sections) {
                ok = ok && (s == "main" || s == "energy" || s == "overhead" || s == "large");
            }
        } else {
            ok = false;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    // Below 16 a step is too short to time; above 1024 the grids outgrow any machine here.
    for (std::uint64_t n : o.sizes) {
        if (n < 16 || n > 1024) {
            return std::nullopt;
        }
    }
    if (o.large_size < 16 || o.large_size > 1024) {
        return std::nullopt;
    }
    return o;
}

kernel_family family_of_name(std::string_view isa) {
    return family_of(*parse_isa_name(isa));
}

std::vector<std::string> one_per_family(const std::vector<std::string>& isas) {
    std::vector<std::string> out;
    std::vector<kernel_family> seen;
    for (const auto& isa : isas) {
        const kernel_family f = family_of_name(isa);
        if (std::find(seen.begin(), seen.end(), f) == seen.end()) {
            seen.push_back(f);
            out.push_back(isa);
        }
    }
    return out;
}

std::string family_label(const options& o, const std::string& isa) {
    std::string out = isa;
    for (const auto& other : o.isas) {
        if (other != isa && family_of_name(other) == family_of_name(isa)) {
            out += ", " + other;
        }
    }
    return out;
}

} // namespace kestrix::bench
