// The fma-apx variant: a complete second copy of the fused 256-bit solver (family base, both
// workloads, energy measures, checks and kernels). Where clang 19 is found the build compiles
// this whole unit with APX enabled (cmake/variants.cmake): clang has no per-function APX
// target, so everything defined here, and any library code instantiated here, is APX code.
// The unit therefore instantiates no library code of its own: texts and buffers come from
// baseline helpers, as in every variant. Else g++ compiles it for the fma target.
#include "solver/variants/prelude.hpp"

#if !defined(__clang__)
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif

namespace kestrix::fma256_apx {
// The kernels stay functions of their own, as in every family: clang would inline them into
// the step and the standing-wave initialisation, where the disassembly guard could no longer
// tell kernel code from the scalar energy measures.
[[gnu::noinline]] bool update_h(field_grid& g);
[[gnu::noinline]] bool update_e(field_grid& g);
} // namespace kestrix::fma256_apx

#define KX_UNIT_NS fma256_apx
#define KX_UNIT_KERNELS "solver/variants/kernels_fma256.inc"
#include "solver/variants/unit.inc"

namespace kestrix::fma256_apx {

bool apx_code() {
#if defined(__APX_F__)
    return true;
#else
    return false;
#endif
}

} // namespace kestrix::fma256_apx

#if !defined(__clang__)
#pragma GCC pop_options
#endif
