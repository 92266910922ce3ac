// The soft-Gaussian class of the avx2 variant, on the scalar_avx family (whose standing-wave
// class avx2 shares with avx).
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx2")

#define KX_UNIT_NS avx2
#define KX_UNIT_FAMILY scalar_avx
#include "solver/variants/unit.inc"

#pragma GCC pop_options
