// The fma-apx variant: a complete second copy of the fused 256-bit solver. Compilers without
// APX code generation (g++ 12) build it for the fma target; see README.md.
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#if defined(KX_APX_CODEGEN)
#pragma GCC target("avx2,fma,apxf")
#else
#pragma GCC target("avx2,fma")
#endif

namespace kestrix::fma256_apx {

#include "solver/variants/energy.inc"
#include "solver/variants/family.inc"
#include "solver/variants/family_impl.inc"
#include "solver/variants/kernels_fma256.inc"

#define KX_SG_CLASS soft_gaussian_fma_apx
#define KX_SG_NEW new_soft_gaussian_fma_apx
#include "solver/variants/soft_gaussian.inc"
#undef KX_SG_NEW
#undef KX_SG_CLASS

bool view_solver(solver& s, solver_view& out) {
    return standing_wave::view(s, out) || soft_gaussian_fma_apx::view(s, out);
}

} // namespace kestrix::fma256_apx

#pragma GCC pop_options
