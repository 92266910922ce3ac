// The fma variant: one cell per 256-bit vector, one fused multiply-add per cell.
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx2,fma")

#define KX_UNIT_NS fma256
#define KX_UNIT_KERNELS "solver/variants/kernels_fma256.inc"
#include "solver/variants/unit.inc"

#pragma GCC pop_options
