#pragma once
// What baseline code may reach in each variant unit: plain functions (the two kernels, the
// energy measures, one constructor per workload and a read-only view for tests and
// benchmarks) and one constant table of its classes, declared here from the variant table.
// Everything is defined in the unit's own compilation, in its own namespace.
#include "platform/isa.hpp"

#include <cstddef>
#include <cstdint>
#include <typeinfo>

namespace kestrix {

// How far ahead of each stream the kernels and the energy pass prefetch, in bytes. The
// hardware prefetchers of some processors do not follow four interleaved streams far enough
// to keep memory busy; a software prefetch per cell does. Measured with bench_prefetch
// (bench/prefetch_tune.cpp) over 512 to 8192 bytes, grid edges 64 to 384, one and two threads,
// on a quiet Zen 5 EPYC (sse2, fma and avx512f): 3072 was best in 11 of 12 cases at edges 192
// and 384 (2 to 20 % ahead of 2048), 1024 and less too late, 4096 and more falling off. One
// distance serves every family.
inline constexpr std::uint64_t prefetch_ahead_bytes = 3072;
// The kernels prefetch only on grids of at least this many cells per field array (edge
// cubed, frame included): 32 MiB per array. Smaller grids stay in the last-level cache of
// current processors, where the hardware prefetchers keep up and the prefetch instructions
// only take issue slots: at N = 64 (9 MiB per array) fma's standing wave ran at 0.93 x its
// speed without them (kestrix, one thread, Zen 5 EPYC, seven pairs), at N = 128 (70 MiB)
// every variant at 1.2-1.4 x. The energy pass always prefetches: it cost nothing at N = 64.
inline constexpr std::uint64_t prefetch_min_cells = (std::uint64_t{32} << 20) / 32;
// The energy pass spends about half a kernel's time per cell, so the same lead in time is
// about twice the bytes. Measured the same way (bench_prefetch energy, edges 192 and 384, one
// thread, Zen 5 EPYC): 4096 ran 1.41 and 1.36 x no lead, 2048 1.24 and 1.28 x.
inline constexpr std::uint64_t energy_prefetch_ahead_bytes = 4096;

class solver;
struct field_grid;

// The inside of a solver, for tests: null grid when the solver is of another unit.
struct solver_view {
    field_grid* grid = nullptr;
    bool allocated = false;
    bool is_standing_wave = false;
    bool is_soft_gaussian = false;
    double energy_init = 0.0;     // standing wave
    std::uint64_t node_count = 0; // standing wave: entries of the node buffer
    double energy_acc = 0.0;      // soft Gaussian
    double e_gain = 0.0;
    double h_gain = 0.0;
};

// The classes of a unit's solvers: its standing wave (null in a unit without one), then per
// isa_kind its soft Gaussian (null where another unit builds it). Data, so that finding the
// unit of a solver executes none of the unit's code, which this processor may lack.
using unit_classes = const std::type_info* const[1 + isa_count];

// Which unit's code builds each variant's soft Gaussian.
enum class variant_unit : std::uint8_t {
#define KX_UNIT(ns, family, width, needs) ns,
#include "solver/variants/variants.def"
};

inline constexpr variant_unit soft_gaussian_unit_of(isa_kind isa) {
    switch (isa) {
#define KX_VARIANT(isa, family, unit)                                                              \
    case isa_kind::isa:                                                                            \
        return variant_unit::unit;
#include "solver/variants/variants.def"
    }
    return variant_unit::scalar_sse2;
}

// Every argument is 32 or 64 bits wide (or a pointer): the fma-apx unit is clang code called
// from g++ code, and clang takes a narrower argument as widened by its caller, which g++ does
// not promise.
#define KX_FAMILY(ns)                                                                              \
    namespace ns {                                                                                 \
    bool update_h(field_grid& g);                                                                  \
    bool update_e(field_grid& g);                                                                  \
    double node_energy(const field_grid& g, std::uint64_t x, std::uint64_t y, std::uint64_t z);    \
    double total_energy(const field_grid& g);                                                      \
    solver* new_standing_wave(std::uint32_t thread_index);                                         \
    }
#define KX_UNIT(ns, family, width, needs)                                                          \
    namespace ns {                                                                                 \
    /* nullptr for an isa whose soft Gaussian another unit builds; isa is an isa_kind number */    \
    solver* new_soft_gaussian(std::uint32_t isa, std::uint32_t thread_index);                      \
    bool view_solver(solver& s, solver_view& out);                                                 \
    extern unit_classes classes;                                                                   \
    double total_energy(const field_grid& g); /* the energy pass of its soft Gaussian */           \
    }
#include "solver/variants/variants.def"

namespace fma256_apx {
bool apx_code(); // whether the unit linked is its APX build
} // namespace fma256_apx

} // namespace kestrix
