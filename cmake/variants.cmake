# Per-instruction-set compile flags, used by src/solver/variants.
# Scalar families and all non-kernel variant code must not be auto-vectorised.
set(KX_NO_VECTORIZE -fno-tree-vectorize -fno-tree-slp-vectorize)
