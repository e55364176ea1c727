# 64-bit Windows programs (runs under wine64); see mingw-w64.cmake.
set(CHRON_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
