// The sse2 variant: baseline x86-64 code, one component at a time.
#include "solver/variants/prelude.hpp"

namespace kestrix::scalar_sse2 {

#include "solver/variants/energy.inc"
#include "solver/variants/family.inc"
#include "solver/variants/family_impl.inc"
#include "solver/variants/kernels_scalar.inc"

#define KX_SG_CLASS soft_gaussian_sse2
#define KX_SG_NEW new_soft_gaussian_sse2
#include "solver/variants/soft_gaussian.inc"
#undef KX_SG_NEW
#undef KX_SG_CLASS

bool view_solver(solver& s, solver_view& out) {
    return standing_wave::view(s, out) || soft_gaussian_sse2::view(s, out);
}

} // namespace kestrix::scalar_sse2
