# Per-instruction-set compile flags, used by src/solver/variants.
# Scalar families and all non-kernel variant code must not be auto-vectorised.
set(KX_NO_VECTORIZE -fno-tree-vectorize -fno-tree-slp-vectorize)

# Flags of every variant object. The instruction set itself comes from a target region in
# each variant's source; no LTO may merge variant objects with baseline code.
set(KX_VARIANT_FLAGS ${KX_NO_VECTORIZE} -fno-lto)
if(WIN32)
  # The Windows ABI aligns the stack to 16 bytes only, and g++ spills 256/512-bit registers
  # with aligned moves: have the assembler emit unaligned ones.
  list(APPEND KX_VARIANT_FLAGS -Wa,-muse-unaligned-vector-move)
endif()

# APX code generation for the fma-apx family where the compiler has it (g++ 14 and later).
include(CheckCXXCompilerFlag)
check_cxx_compiler_flag(-mapxf KX_COMPILER_HAS_APX)
if(KX_COMPILER_HAS_APX)
  set(KX_APX_DEFINITIONS KX_APX_CODEGEN=1)
  message(STATUS "fma-apx variant: compiled for APX")
else()
  set(KX_APX_DEFINITIONS)
  message(STATUS "fma-apx variant: compiled for the fma target (no APX code generation)")
endif()
