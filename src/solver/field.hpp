#pragma once
// Field storage: the E and H arrays of one solver and the constants of a step.
// Every member function is out of line (field.cpp): variant code compiled for wider
// instruction sets calls them but never gets its own copy (see variants/README.md).
#include "solver/solver.hpp"

#include <cstdint>

namespace kestrix {

// One grid cell: exactly one 256-bit vector. Lane w stays 0.
struct field_cell {
    double x;
    double y;
    double z;
    double w;
};
static_assert(sizeof(field_cell) == 32);

// D^3 cells, cell (x, y, z) at (x*D + y)*D + z.
class field_array {
public:
    field_array() noexcept;
    // Obtains and clears edge^3 cells; holds none when they cannot be obtained.
    field_array(std::uint64_t edge, bool large_pages);
    field_array(field_array&& other) noexcept;
    field_array& operator=(field_array&& other) noexcept;
    field_array(const field_array&) = delete;
    field_array& operator=(const field_array&) = delete;
    ~field_array();

    // Returns the cells to the allocator named by large_pages; harmless when empty.
    void release() noexcept;

    std::uint64_t edge;
    bool large_pages;
    std::uint64_t count;
    field_cell* cells;
};

struct field_grid {
    field_grid() noexcept;
    field_grid(field_grid&& other) noexcept;
    field_grid& operator=(field_grid&& other) noexcept;
    field_grid(const field_grid&) = delete;
    field_grid& operator=(const field_grid&) = delete;
    ~field_grid();

    field_array e;
    field_array h;
    double dx;
    double dt;
    double dv;
    double ce;
    double ch;
};

// Largest cell count whose byte size fits 64 bits.
inline constexpr std::uint64_t max_field_cells = 576460752303423487ULL;

// E then H, both of edge N+2, then the constants. An array that could not be obtained
// holds no cells.
field_grid build_field_grid(const field_params& p);

// Flush-to-zero and denormals-are-zero on for the calling thread, other MXCSR bits kept.
void enable_flush_to_zero();

} // namespace kestrix
