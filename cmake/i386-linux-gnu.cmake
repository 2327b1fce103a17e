# 32-bit x86 Linux build on an x86-64 host with the multilib compilers
# (Debian package g++-multilib). This is not a cross build for CMake: the
# host's compilers and binutils do the work, with -m32 everywhere. Whether
# the kernel can start the programs is decided at configure time (see
# TrivjpegTestRunner.cmake).
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
