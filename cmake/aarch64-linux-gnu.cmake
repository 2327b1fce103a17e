# 64-bit Arm Linux, cross-built on an x86-64 host. Only the plain stages are
# compiled for it, so its tests prove them on a processor that is not x86.
# The programs run under qemu-aarch64 (see TrivjpegTestRunner.cmake).
#
# The compiler is clang with an aarch64 target, over Debian's arm64 cross
# libraries (libstdc++-12-dev-arm64-cross with its C library, and
# binutils-aarch64-linux-gnu) in /usr/aarch64-linux-gnu. Debian's
# g++-aarch64-linux-gnu would do as well, but it cannot be installed beside
# g++-multilib, which the x86 preset needs (the packages conflict).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(triple aarch64-linux-gnu)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${triple})

# Libraries and headers come from the target's root only: the host's
# x86-64 libpng, TurboJPEG and GoogleTest must not be picked up. Without
# arm64 builds of them, PNG input and the TurboJPEG tests drop out, and
# GoogleTest is compiled from its sources.
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
