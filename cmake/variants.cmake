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

# APX code generation for the fma-apx family: clang 19 compiles its whole unit (family base,
# workload classes, energy measures, checks and kernels) with APX, since it takes no
# per-function APX target, and the object joins the g++ link. Everything in that object is APX
# code, so it must instantiate no library code of its own (see src/solver/variants/README.md).
# KX_APX_CXX / KX_APX_CXX_FLAGS are empty when the stand-in (g++, fma target) is built instead.
set(KX_APX_CXX "")
set(KX_APX_CXX_FLAGS "")
option(KESTRIX_APX_CLANG "Compile the fma-apx family for APX with clang 19 where it is found" ON)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  if(KESTRIX_APX_CLANG)
    find_program(KX_CLANG19 NAMES clang++-19)
  else()
    set(KX_CLANG19 "")
  endif()
  find_program(KX_LLVM_OBJDUMP NAMES llvm-objdump-19)
  set(kx_apx_target_flags)
  if(WIN32)
    set(kx_apx_target_flags --target=x86_64-w64-mingw32)
  endif()
  # The unit's objects link with g++'s: it reads g++'s own C++ library headers (clang alone
  # would take the win32-threads mingw-w64 set in the Windows build), so every type shared
  # with baseline code has one layout and one set of inline definitions.
  set(kx_apx_std_headers)
  foreach(dir IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
    if(dir MATCHES "/c\\+\\+(/|$)")
      list(APPEND kx_apx_std_headers -isystem ${dir})
    endif()
  endforeach()
  if(kx_apx_std_headers)
    list(PREPEND kx_apx_std_headers -nostdinc++)
  endif()
  # The unit's own flags, besides the instruction sets: the floating-point contract and the
  # no-vectorisation rule of every variant object, one cell per loop iteration. Exceptions and
  # run-time type information as in the g++ units (the views use dynamic_cast).
  set(KX_APX_BASE_FLAGS ${kx_apx_target_flags} ${kx_apx_std_headers} -std=c++20 -O3 -Wall
      -Wextra -Werror -ffp-contract=off -fno-vectorize -fno-slp-vectorize -fno-unroll-loops
      -fno-lto)
  if(KX_CLANG19)
    # The unit must compile against this build's headers (the mingw-w64 ones on Windows).
    set(kx_probe ${CMAKE_BINARY_DIR}/CMakeFiles/kx_apx_probe)
    file(MAKE_DIRECTORY ${kx_probe})
    execute_process(
      COMMAND ${KX_CLANG19} ${KX_APX_BASE_FLAGS} -mapxf -mavx2 -mfma -I${CMAKE_SOURCE_DIR}/src
              -c ${CMAKE_SOURCE_DIR}/src/solver/variants/fma256_apx.cpp -o ${kx_probe}/probe.o
      RESULT_VARIABLE kx_apx_probe_rc OUTPUT_QUIET ERROR_VARIABLE kx_apx_probe_err)
    if(kx_apx_probe_rc EQUAL 0)
      set(KX_APX_CXX ${KX_CLANG19})
      set(KX_APX_CXX_FLAGS ${KX_APX_BASE_FLAGS} -mapxf -mavx2 -mfma)
    else()
      message(STATUS "fma-apx variant: ${KX_CLANG19} cannot compile the APX unit for this "
                     "target: ${kx_apx_probe_err}")
    endif()
  endif()
endif()
# Every unit that reads the variant table sees the same answer (kestrix/variant_build.hpp).
if(KX_APX_CXX)
  set(KX_APX_CODEGEN 1)
else()
  set(KX_APX_CODEGEN 0)
endif()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/kestrix/variant_build.hpp
     CONTENT "#pragma once\n// Written by cmake/variants.cmake.\n#define KX_APX_CODEGEN @KX_APX_CODEGEN@\n"
     @ONLY)
if(KX_APX_CXX)
  list(JOIN KX_APX_CXX_FLAGS " " kx_flags_text)
  message(STATUS "fma-apx variant: the whole family compiled for APX by ${KX_APX_CXX} "
                 "${kx_flags_text}")
else()
  message(STATUS "fma-apx variant: clang++-19 with APX not available or not chosen, so the "
                 "family is compiled by ${CMAKE_CXX_COMPILER} for the fma target "
                 "(no APX code generation)")
endif()

# The variant table's units as the disassembly guard reads them, one line each:
#   namespace widest-register-bits need...
# (needs are the cpu_need names without "need_"; apx_codegen_needs is APX state and APX in an
# APX build, nothing otherwise).
file(READ ${CMAKE_SOURCE_DIR}/src/solver/variants/variants.def kx_def)
string(REGEX REPLACE "//[^\n]*" "" kx_def "${kx_def}")
string(REGEX REPLACE "#[^\n]*" "" kx_def "${kx_def}")
string(REGEX MATCHALL "KX_UNIT\\([^)]*\\)" kx_unit_rows "${kx_def}")
set(kx_units_text "")
foreach(row IN LISTS kx_unit_rows)
  string(REGEX REPLACE "^KX_UNIT\\(|\\)$" "" row "${row}")
  string(REGEX REPLACE "[ \t\n]+" "" row "${row}")
  string(REPLACE "," ";" fields "${row}")
  list(GET fields 0 kx_ns)
  list(GET fields 2 kx_width)
  list(GET fields 3 kx_needs)
  if(KX_APX_CXX)
    string(REPLACE "apx_codegen_needs" "need_apx_state|need_apx" kx_needs "${kx_needs}")
  else()
    string(REPLACE "|apx_codegen_needs" "" kx_needs "${kx_needs}")
  endif()
  string(REPLACE "need_" "" kx_needs "${kx_needs}")
  string(REPLACE "|" " " kx_needs "${kx_needs}")
  if(kx_needs STREQUAL "0")
    set(kx_needs "")
  endif()
  string(APPEND kx_units_text "${kx_ns} ${kx_width} ${kx_needs}\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/generated/kestrix/variant_units.txt "${kx_units_text}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/src/solver/variants/variants.def)
