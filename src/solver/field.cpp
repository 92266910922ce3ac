#include "solver/field.hpp"

#include "platform/memory.hpp"

#include <cmath>
#include <utility>
#include <xmmintrin.h>

namespace kestrix {

field_array::field_array() noexcept : edge(0), large_pages(false), count(0), cells(nullptr) {}

field_array::field_array(std::uint64_t edge_, bool large_pages_)
    : edge(edge_), large_pages(large_pages_), count(0), cells(nullptr) {
    // D^3 in wrapping 64-bit arithmetic, then the byte-size limit of a 64-bit request.
    const std::uint64_t n = edge_ * edge_ * edge_;
    if (n == 0 || n > max_field_cells) {
        return;
    }
    // A wrapped cube can look small: refuse edges whose cube does not really fit.
    if (edge_ > 0 && (n / edge_ / edge_ != edge_)) {
        return;
    }
    const std::uint64_t bytes = n * sizeof(field_cell);
    void* p = large_pages ? large_page_allocate(bytes) : aligned_allocate(bytes);
    if (p == nullptr) {
        return;
    }
    auto* c = static_cast<field_cell*>(p);
    for (std::uint64_t i = 0; i < n; ++i) {
        c[i] = field_cell{0.0, 0.0, 0.0, 0.0};
    }
    count = n;
    cells = c;
}

field_array::field_array(field_array&& other) noexcept
    : edge(other.edge), large_pages(other.large_pages), count(other.count), cells(other.cells) {
    other.count = 0;
    other.cells = nullptr;
}

field_array& field_array::operator=(field_array&& other) noexcept {
    if (this != &other) {
        release();
        edge = other.edge;
        large_pages = other.large_pages;
        count = other.count;
        cells = other.cells;
        other.count = 0;
        other.cells = nullptr;
    }
    return *this;
}

field_array::~field_array() {
    release();
}

void field_array::release() noexcept {
    if (cells != nullptr) {
        if (large_pages) {
            large_page_release(cells);
        } else {
            aligned_release(cells);
        }
    }
    cells = nullptr;
    count = 0;
}

field_grid::field_grid() noexcept : dx(0.0), dt(0.0), dv(0.0), ce(0.0), ch(0.0) {}

field_grid::field_grid(field_grid&& other) noexcept
    : e(std::move(other.e)), h(std::move(other.h)), dx(other.dx), dt(other.dt), dv(other.dv),
      ce(other.ce), ch(other.ch) {}

field_grid& field_grid::operator=(field_grid&& other) noexcept {
    if (this != &other) {
        // H goes back before E, the order in which a solver releases its fields.
        h = std::move(other.h);
        e = std::move(other.e);
        dx = other.dx;
        dt = other.dt;
        dv = other.dv;
        ce = other.ce;
        ch = other.ch;
    }
    return *this;
}

field_grid::~field_grid() {
    h.release();
    e.release();
}

field_grid build_field_grid(const field_params& p) {
    field_grid g;
    g.e = field_array(p.n + 2, p.large_pages);
    g.h = field_array(p.n + 2, p.large_pages);
    g.dx = p.dx;
    g.dt = p.dx * 0.5;
    g.dv = std::pow(p.dx, 3.0);
    g.ce = g.dt / g.dx;
    g.ch = g.dt / g.dx;
    return g;
}

void enable_flush_to_zero() {
    constexpr unsigned flush_to_zero = 0x8000;
    constexpr unsigned denormals_are_zero = 0x0040;
    _mm_setcsr(_mm_getcsr() | flush_to_zero | denormals_are_zero);
}

} // namespace kestrix
