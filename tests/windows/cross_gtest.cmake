# GoogleTest built from Debian's source package (googletest: /usr/src/googletest) with the
# cross compiler; the same targets as find_package(GTest) gives.
set(CHRON_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${CHRON_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${target})
    add_library(GTest::${target} ALIAS ${target})
  endif()
  # Their own warnings are not ours to mend.
  target_compile_options(${target} PRIVATE -w)
endforeach()
