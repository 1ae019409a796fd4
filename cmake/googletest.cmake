# GoogleTest: the system's package on a native build. A cross-build finds no
# GoogleTest for its target, so it builds one from the source tree that
# Debian's googletest package installs (or TAVRIN_GTEST_SOURCE).

if(NOT TAVRIN_GTEST_FROM_SOURCE)
  find_package(GTest QUIET)
endif()
if(NOT GTest_FOUND)
  set(TAVRIN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
  if(NOT EXISTS ${TAVRIN_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest not found: install it (Debian: libgtest-dev googletest) "
                        "or set TAVRIN_GTEST_SOURCE")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TAVRIN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
