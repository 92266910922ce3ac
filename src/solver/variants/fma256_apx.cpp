// The fma-apx variant: a complete second copy of the fused 256-bit solver. Its kernels and
// energy measures are fma256_apx_kernels.cpp (generated for APX where clang 19 builds it);
// this unit holds the family base and the workload classes, compiled for the fma target.
#include "solver/variants/prelude.hpp"

#pragma GCC push_options
#pragma GCC target("avx2,fma")

#define KX_UNIT_NS fma256_apx
#include "solver/variants/unit.inc"

#pragma GCC pop_options
