#include "stress/field_hash.hpp"

#include "platform/cpu.hpp"
#include "solver/field.hpp"

#include <cmath>
#include <cstring>

// Header-only: no shared library joins the packages.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace kestrix::stress {

namespace avx2_code {
std::uint64_t hash_two(const void* a, std::size_t a_size, const void* b, std::size_t b_size);
}

namespace {

std::uint64_t hash_two(const void* a, std::size_t a_size, const void* b, std::size_t b_size) {
    const XXH64_hash_t first = XXH3_64bits(a, a_size);
    return XXH3_64bits_withSeed(b, b_size, first);
}

bool avx2_usable() {
    static const bool usable = [] {
        const cpu_features f = detect_cpu_features();
        return f.avx2 && f.os_avx_state;
    }();
    return usable;
}

} // namespace

std::uint64_t hash_fields(const field_grid& g) {
    return hash_fields(g, avx2_usable());
}

std::uint64_t hash_fields(const field_grid& g, bool avx2) {
    const std::size_t e = g.e.count * sizeof(field_cell);
    const std::size_t h = g.h.count * sizeof(field_cell);
    return avx2 ? avx2_code::hash_two(g.e.cells, e, g.h.cells, h)
                : hash_two(g.e.cells, e, g.h.cells, h);
}

bool flip_bit(field_grid& g, unsigned bit) {
    double* best = nullptr;
    double best_abs = 0.0;
    for (std::uint64_t i = 0; i < g.e.count; ++i) {
        field_cell& c = g.e.cells[i];
        for (double* v : {&c.x, &c.y, &c.z}) {
            if (std::fabs(*v) > best_abs) {
                best_abs = std::fabs(*v);
                best = v;
            }
        }
    }
    if (best == nullptr || bit > 63) {
        return false;
    }
    std::uint64_t bits = 0;
    std::memcpy(&bits, best, sizeof bits);
    bits ^= std::uint64_t{1} << bit;
    std::memcpy(best, &bits, sizeof bits);
    return true;
}

} // namespace kestrix::stress
