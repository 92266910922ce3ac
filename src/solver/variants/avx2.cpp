// The soft-Gaussian class of the avx2 variant: compiled for AVX2 on the scalar_avx family
// (whose standing-wave class avx2 shares with avx).
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx2")

namespace kestrix::scalar_avx {
#include "solver/variants/family.inc"
} // namespace kestrix::scalar_avx

namespace kestrix::avx2 {

using family_solver = scalar_avx::family_solver;

#include "solver/variants/energy.inc"

#define KX_SG_CLASS soft_gaussian_avx2
#define KX_SG_NEW new_soft_gaussian_avx2
#include "solver/variants/soft_gaussian.inc"
#undef KX_SG_NEW
#undef KX_SG_CLASS

bool view_solver(solver& s, solver_view& out) {
    return soft_gaussian_avx2::view(s, out);
}

} // namespace kestrix::avx2

#pragma GCC pop_options
