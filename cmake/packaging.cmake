# Install rules, the Windows version resource and manifest, and the Debian package (CPack).
# Included at the end of the top-level CMakeLists.txt, so that every program target exists:
# kestrix always, kestrix-results and kestrix-stress where their folders are part of the build.
include(GNUInstallDirs)

set(KX_PROGRAMS)
set(KX_DESCRIPTION_kestrix "kestrix CPU benchmark (3-D FDTD solver per thread, score in MGups)")
set(KX_DESCRIPTION_kestrix-results "kestrix results: records, comparisons and charts of kestrix runs")
set(KX_DESCRIPTION_kestrix-stress "kestrix stress: a stability test that names the failing core")
foreach(kx_program kestrix kestrix-results kestrix-stress)
  if(TARGET ${kx_program})
    list(APPEND KX_PROGRAMS ${kx_program})
  endif()
endforeach()

if(WIN32)
  # Version resource and manifest, compiled by windres on their own: the targets' compile
  # options (-Wall, -ffp-contract=off) would otherwise reach the resource compiler.
  foreach(kx_program IN LISTS KX_PROGRAMS)
    set(KX_RC_NAME ${kx_program})
    set(KX_RC_DESCRIPTION "${KX_DESCRIPTION_${kx_program}}")
    set(kx_gen ${CMAKE_BINARY_DIR}/generated/resources)
    set(KX_RC_MANIFEST ${kx_gen}/${kx_program}.exe.manifest)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/app.manifest.in ${KX_RC_MANIFEST} @ONLY)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${kx_gen}/${kx_program}.rc @ONLY)
    add_custom_command(
      OUTPUT ${kx_gen}/${kx_program}_rc.o
      COMMAND ${CMAKE_RC_COMPILER} --input-format=rc --output-format=coff
              -i ${kx_gen}/${kx_program}.rc -o ${kx_gen}/${kx_program}_rc.o
      DEPENDS ${kx_gen}/${kx_program}.rc ${KX_RC_MANIFEST}
      COMMENT "Version resource of ${kx_program}.exe")
    add_custom_target(${kx_program}_resource DEPENDS ${kx_gen}/${kx_program}_rc.o)
    add_dependencies(${kx_program} ${kx_program}_resource)
    target_link_libraries(${kx_program} PRIVATE ${kx_gen}/${kx_program}_rc.o)
    # No link time in the PE header: the same sources give the same executable.
    target_link_options(${kx_program} PRIVATE -Wl,--no-insert-timestamp)
  endforeach()
endif()

install(TARGETS ${KX_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

if(NOT WIN32)
  # The Debian package; tools/release.sh runs cpack with SOURCE_DATE_EPOCH set.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME kestrix)
  set(CPACK_PACKAGE_VENDOR "the kestrix authors")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CPU benchmark for x86-64 processors")
  set(CPACK_PACKAGE_DESCRIPTION
      "Every worker thread runs its own 3-D FDTD electromagnetic simulation for a fixed time and checks its physics; the summed rate is the score in MGups. Nine instruction-set variants of the solver, two cross-checked clocks, thread placement by NUMA node, cache and core, and a harness that repeats and sweeps runs.")
  set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the kestrix authors")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # Dependencies from the binaries' own needs (dpkg-shlibdeps), never written by hand.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  include(CPack)
endif()
