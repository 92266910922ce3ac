// The sse2 variant: baseline x86-64 code, one component at a time.
#include "solver/variants/prelude.hpp"

#define KX_UNIT_NS scalar_sse2
#define KX_UNIT_KERNELS "solver/variants/kernels_scalar.inc"
#include "solver/variants/unit.inc"
