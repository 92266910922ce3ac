// The fma variant: one cell per 256-bit vector, one fused multiply-add per cell.
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx2,fma")

namespace kestrix::fma256 {

#include "solver/variants/energy.inc"
#include "solver/variants/family.inc"
#include "solver/variants/family_impl.inc"
#include "solver/variants/kernels_fma256.inc"

#define KX_SG_CLASS soft_gaussian_fma
#define KX_SG_NEW new_soft_gaussian_fma
#include "solver/variants/soft_gaussian.inc"
#undef KX_SG_NEW
#undef KX_SG_CLASS

bool view_solver(solver& s, solver_view& out) {
    return standing_wave::view(s, out) || soft_gaussian_fma::view(s, out);
}

} // namespace kestrix::fma256

#pragma GCC pop_options
