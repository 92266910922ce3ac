#include "stress/field_hash.hpp"

#include "solver/field.hpp"

#include <cmath>
#include <cstring>

// Header-only: no shared library joins the packages.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace kestrix::stress {

std::uint64_t hash_fields(const field_grid& g) {
    const std::uint64_t e = XXH3_64bits(g.e.cells, g.e.count * sizeof(field_cell));
    return XXH3_64bits_withSeed(g.h.cells, g.h.count * sizeof(field_cell), e);
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
