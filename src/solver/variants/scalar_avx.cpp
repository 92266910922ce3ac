// The avx variant: the reference kernels in VEX-encoded scalar code, no FMA.
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx")

namespace kestrix::scalar_avx {

#include "solver/variants/energy.inc"
#include "solver/variants/family.inc"
#include "solver/variants/family_impl.inc"
#include "solver/variants/kernels_scalar.inc"

#define KX_SG_CLASS soft_gaussian_avx
#define KX_SG_NEW new_soft_gaussian_avx
#include "solver/variants/soft_gaussian.inc"
#undef KX_SG_NEW
#undef KX_SG_CLASS

bool view_solver(solver& s, solver_view& out) {
    return standing_wave::view(s, out) || soft_gaussian_avx::view(s, out);
}

} // namespace kestrix::scalar_avx

#pragma GCC pop_options
