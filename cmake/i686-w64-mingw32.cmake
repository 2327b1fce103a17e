# Cross build for 32-bit Windows with the mingw-w64 i686 toolchain (Debian
# package g++-mingw-w64-i686). The win32 thread model is preferred: the
# libraries use no threads and must not pull in winpthread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TRIVJPEG_MINGW_TRIPLE i686-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${TRIVJPEG_MINGW_TRIPLE}-gcc-win32 ${TRIVJPEG_MINGW_TRIPLE}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TRIVJPEG_MINGW_TRIPLE}-g++-win32 ${TRIVJPEG_MINGW_TRIPLE}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TRIVJPEG_MINGW_TRIPLE}-windres)
find_program(CMAKE_DLLTOOL NAMES ${TRIVJPEG_MINGW_TRIPLE}-dlltool)
find_program(CMAKE_OBJDUMP NAMES ${TRIVJPEG_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TRIVJPEG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
