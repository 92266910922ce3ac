#pragma once
// What baseline code may reach in each variant unit: plain functions only (the two kernels,
// the energy measures, one constructor per workload and a read-only view for tests and
// benchmarks), declared here from the variant table. Everything is defined in the unit's own
// compilation, in its own namespace.
#include "platform/isa.hpp"

#include <cstdint>

namespace kestrix {

// How far ahead of each stream the kernels and the energy pass prefetch, in bytes. The
// hardware prefetchers of some processors do not follow four interleaved streams far enough
// to keep memory busy; a software prefetch per cell does. Measured with bench_prefetch
// (bench/prefetch_tune.cpp) over 512 to 4096 bytes, grid edges 128, 192 and 384, one and two
// threads, on a Zen 5 EPYC (fma, avx512f and the stencil probe): 2048 and 3072 were best and
// equal within the noise, 1024 and less too late, 4096 falling off at N = 384. The smaller
// of the two leaves more of L1 to the other streams; one distance serves every family.
inline constexpr std::uint64_t prefetch_ahead_bytes = 2048;

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
    /* nullptr for an isa whose soft Gaussian another unit builds */                               \
    solver* new_soft_gaussian(isa_kind isa, std::uint32_t thread_index);                           \
    bool view_solver(solver& s, solver_view& out);                                                 \
    double total_energy(const field_grid& g); /* the energy pass of its soft Gaussian */           \
    }
#include "solver/variants/variants.def"

namespace fma256_apx {
bool apx_code(); // whether the kernels linked are the APX build of their unit
} // namespace fma256_apx

} // namespace kestrix
