// The avx512f and avx10-2-512 variants: two difference vectors per 512-bit register.
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx512f,avx2,fma")

#define KX_UNIT_NS avx512_512
#define KX_UNIT_KERNELS "solver/variants/kernels_avx512_512.inc"
#include "solver/variants/unit.inc"

#pragma GCC pop_options
