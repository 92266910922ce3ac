// The avx512vl and avx10-2-256 variants: one cell per 256-bit EVEX vector.
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx512f,avx512vl,avx2,fma")

#define KX_UNIT_NS avx512_256
#define KX_UNIT_KERNELS "solver/variants/kernels_avx512_256.inc"
#include "solver/variants/unit.inc"

#pragma GCC pop_options
