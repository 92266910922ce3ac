# Everything comes from Debian packages; nothing is downloaded.
find_package(Threads REQUIRED)

if(KESTRIX_PORTABLE AND NOT WIN32)
  # Needs only the C library (and libudev, which Debian's libhwloc.a uses) at run time: hwloc
  # from its static archive (the suffix makes pkg_check_modules pick libhwloc.a), libudev
  # linked last on every link line, libstdc++ and libgcc static, {fmt} header-only below.
  find_library(KX_UDEV_LIBRARY NAMES libudev.so.1 udev REQUIRED)
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
  string(APPEND CMAKE_CXX_STANDARD_LIBRARIES " ${KX_UDEV_LIBRARY}")
  add_link_options(-static-libgcc -static-libstdc++ -Wl,--as-needed)
endif()

add_library(kx_fmt INTERFACE)
if(CMAKE_CROSSCOMPILING OR KESTRIX_PORTABLE)
  # {fmt} header-only from the host's Debian headers, copied into the build tree so that no
  # host include directory is ever on the cross compiler's search path.
  set(KX_FMT_SRC /usr/include/fmt)
  if(NOT EXISTS ${KX_FMT_SRC}/format.h)
    message(FATAL_ERROR "{fmt} headers not found in ${KX_FMT_SRC} (apt-get install libfmt-dev)")
  endif()
  file(COPY ${KX_FMT_SRC} DESTINATION ${CMAKE_BINARY_DIR}/third_party/include)
  target_include_directories(kx_fmt SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/third_party/include)
  target_compile_definitions(kx_fmt INTERFACE FMT_HEADER_ONLY=1)
else()
  find_package(fmt REQUIRED)
  target_link_libraries(kx_fmt INTERFACE fmt::fmt)
endif()
