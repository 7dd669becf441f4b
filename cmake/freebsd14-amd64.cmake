# Cross-compiles the native build for FreeBSD 14 on amd64 with clang, against
# the FreeBSD /usr/include under FREEBSD_SYSROOT (a FreeBSD system's, or one
# unpacked from its base set). `make cross` uses it: it compiles every source
# of the native build and links nothing, so the sysroot need hold headers only.
set(CMAKE_SYSTEM_NAME FreeBSD)
set(CMAKE_SYSTEM_VERSION 14)
set(CMAKE_SYSTEM_PROCESSOR amd64)

if(NOT FREEBSD_SYSROOT)
  set(FREEBSD_SYSROOT "$ENV{FREEBSD_SYSROOT}")
endif()
if(NOT EXISTS "${FREEBSD_SYSROOT}/usr/include/sys/param.h")
  message(FATAL_ERROR "FREEBSD_SYSROOT='${FREEBSD_SYSROOT}' holds no FreeBSD /usr/include")
endif()
# Seen again by CMake's own compiler checks, which reread this file.
set(ENV{FREEBSD_SYSROOT} "${FREEBSD_SYSROOT}")

set(CMAKE_SYSROOT "${FREEBSD_SYSROOT}")
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-unknown-freebsd14)
# Nothing is linked, so the compiler checks build static archives.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# A FreeBSD system has LLVM's C++ library headers under /usr/include/c++/v1;
# a sysroot laid out from the base headers alone may not, and then the
# host's copy of the same library (Debian's libc++-dev) stands in.
if(NOT EXISTS "${FREEBSD_SYSROOT}/usr/include/c++/v1/vector")
  file(GLOB _libcxx LIST_DIRECTORIES true /usr/lib/llvm-*/include/c++/v1)
  list(SORT _libcxx COMPARE NATURAL ORDER DESCENDING)
  list(GET _libcxx 0 _libcxx)
  if(NOT EXISTS "${_libcxx}/vector")
    message(FATAL_ERROR "no C++ library headers in the sysroot, nor a host libc++-dev")
  endif()
  set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem ${_libcxx}")
endif()

set(CMAKE_FIND_ROOT_PATH "${FREEBSD_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
