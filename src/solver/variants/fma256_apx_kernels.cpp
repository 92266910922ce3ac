// The kernels and energy measures of the fma-apx family: the fused 256-bit code of fma. Where
// clang 19 is found the build compiles this unit alone with APX enabled for the whole unit
// (cmake/variants.cmake); else g++ compiles it for the fma target. It holds plain functions on
// plain data and no library code, so nothing in it can be merged with another unit's copy.
#include "solver/field.hpp"
#include "solver/variants/variant_api.hpp"

#include <cstdint>
#include <immintrin.h>

#if !defined(__clang__)
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif

namespace kestrix::fma256_apx {

#include "solver/variants/energy.inc"
#include "solver/variants/kernels_fma256.inc"

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
