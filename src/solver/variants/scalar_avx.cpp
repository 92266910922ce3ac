// The avx variant: the reference kernels in VEX-encoded scalar code, no FMA.
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx")

#define KX_UNIT_NS scalar_avx
#define KX_UNIT_KERNELS "solver/variants/kernels_scalar.inc"
#include "solver/variants/unit.inc"

#pragma GCC pop_options
