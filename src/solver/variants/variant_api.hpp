#pragma once
// What baseline code may reach in each variant: one plain constructor function per class,
// the two kernels, the energy measures and a read-only view for tests and benchmarks.
// Everything here is defined in the variant's own compilation, in its own namespace.
#include <cstdint>

namespace kestrix {

class solver;
struct field_grid;

// The inside of a solver, for tests: null grid when the solver is of another family.
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

#define KX_DECLARE_VARIANT_FAMILY(ns)                                                              \
    namespace ns {                                                                                 \
    bool update_h(field_grid& g);                                                                  \
    bool update_e(field_grid& g);                                                                  \
    double node_energy(const field_grid& g, std::uint64_t x, std::uint64_t y, std::uint64_t z);    \
    double total_energy(const field_grid& g);                                                      \
    solver* new_standing_wave(std::uint32_t thread_index);                                         \
    bool view_solver(solver& s, solver_view& out);                                                 \
    }

KX_DECLARE_VARIANT_FAMILY(scalar_sse2)
KX_DECLARE_VARIANT_FAMILY(scalar_avx)
KX_DECLARE_VARIANT_FAMILY(fma256)
KX_DECLARE_VARIANT_FAMILY(fma256_apx)
KX_DECLARE_VARIANT_FAMILY(avx512_512)
KX_DECLARE_VARIANT_FAMILY(avx512_256)

#undef KX_DECLARE_VARIANT_FAMILY

namespace scalar_sse2 {
solver* new_soft_gaussian_sse2(std::uint32_t thread_index);
}
namespace scalar_avx {
solver* new_soft_gaussian_avx(std::uint32_t thread_index);
}
namespace avx2 {
solver* new_soft_gaussian_avx2(std::uint32_t thread_index);
bool view_solver(solver& s, solver_view& out);
double total_energy(const field_grid& g); // the energy pass of avx2's own soft Gaussian
} // namespace avx2
namespace fma256 {
solver* new_soft_gaussian_fma(std::uint32_t thread_index);
}
namespace fma256_apx {
solver* new_soft_gaussian_fma_apx(std::uint32_t thread_index);
}
namespace avx512_512 {
solver* new_soft_gaussian_avx512f(std::uint32_t thread_index);
solver* new_soft_gaussian_avx10_2_512(std::uint32_t thread_index);
} // namespace avx512_512
namespace avx512_256 {
solver* new_soft_gaussian_avx512vl(std::uint32_t thread_index);
solver* new_soft_gaussian_avx10_2_256(std::uint32_t thread_index);
} // namespace avx512_256

} // namespace kestrix
