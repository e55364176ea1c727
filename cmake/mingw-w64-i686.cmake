# 32-bit Windows programs (compile only here: 32-bit programs cannot run on this machine); see
# mingw-w64.cmake.
set(CHRON_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
