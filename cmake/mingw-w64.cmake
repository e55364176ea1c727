# Cross-build for Windows with mingw-w64 (Debian's g++-mingw-w64-<arch>-posix: its C++ library
# has std::thread and std::mutex). Included by mingw-w64-x86_64.cmake and mingw-w64-i686.cmake,
# which set CHRON_MINGW_ARCH.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${CHRON_MINGW_ARCH})
set(CHRON_MINGW_TRIPLE ${CHRON_MINGW_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${CHRON_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CHRON_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CHRON_MINGW_TRIPLE}-windres)
set(CHRON_MC_COMPILER ${CHRON_MINGW_TRIPLE}-windmc)

# 64-bit time_t on 32-bit Windows too (mingw-w64 makes it 32-bit there unless told otherwise):
# timestamps after 2038 must convert.
if(CHRON_MINGW_ARCH STREQUAL "i686")
  set(CMAKE_C_FLAGS_INIT "-D__MINGW_USE_VC2005_COMPAT")
  set(CMAKE_CXX_FLAGS_INIT "-D__MINGW_USE_VC2005_COMPAT")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${CHRON_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Statically linked (libgcc, libstdc++, winpthread): the programs run on a clean Windows and in a
# fresh Wine prefix without DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# ctest and test discovery run the .exe files under 64-bit Wine (32-bit programs cannot run on
# this kind of machine: no wine32, no 32-bit emulation in the kernel).
if(CHRON_MINGW_ARCH STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
endif()
