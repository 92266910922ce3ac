// The avx512f and avx10-2-512 variants: two difference vectors per 512-bit register.
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx512f,avx2,fma")

namespace kestrix::avx512_512 {

#include "solver/variants/energy.inc"
#include "solver/variants/family.inc"
#include "solver/variants/family_impl.inc"
#include "solver/variants/kernels_avx512_512.inc"

#define KX_SG_CLASS soft_gaussian_avx512f
#define KX_SG_NEW new_soft_gaussian_avx512f
#include "solver/variants/soft_gaussian.inc"
#undef KX_SG_NEW
#undef KX_SG_CLASS

#define KX_SG_CLASS soft_gaussian_avx10_2_512
#define KX_SG_NEW new_soft_gaussian_avx10_2_512
#include "solver/variants/soft_gaussian.inc"
#undef KX_SG_NEW
#undef KX_SG_CLASS

bool view_solver(solver& s, solver_view& out) {
    return standing_wave::view(s, out) || soft_gaussian_avx512f::view(s, out) ||
           soft_gaussian_avx10_2_512::view(s, out);
}

} // namespace kestrix::avx512_512

#pragma GCC pop_options
