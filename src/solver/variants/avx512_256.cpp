// The avx512vl and avx10-2-256 variants: one cell per 256-bit EVEX vector.
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx512f,avx512vl,avx2,fma")

namespace kestrix::avx512_256 {

#include "solver/variants/energy.inc"
#include "solver/variants/family.inc"
#include "solver/variants/family_impl.inc"
#include "solver/variants/kernels_avx512_256.inc"

#define KX_SG_CLASS soft_gaussian_avx512vl
#define KX_SG_NEW new_soft_gaussian_avx512vl
#include "solver/variants/soft_gaussian.inc"
#undef KX_SG_NEW
#undef KX_SG_CLASS

#define KX_SG_CLASS soft_gaussian_avx10_2_256
#define KX_SG_NEW new_soft_gaussian_avx10_2_256
#include "solver/variants/soft_gaussian.inc"
#undef KX_SG_NEW
#undef KX_SG_CLASS

bool view_solver(solver& s, solver_view& out) {
    return standing_wave::view(s, out) || soft_gaussian_avx512vl::view(s, out) ||
           soft_gaussian_avx10_2_256::view(s, out);
}

} // namespace kestrix::avx512_256

#pragma GCC pop_options
