# GoogleTest and GoogleMock for the test suite. A native build uses the
# installed libraries (libgtest-dev, libgmock-dev). A cross build has no
# target libraries to find, so it compiles Debian's own GoogleTest sources
# (package googletest, under /usr/src/googletest) for the target, static,
# with the same GTest:: targets.
find_package(GTest QUIET)
if(GTest_FOUND)
  return()
endif()
if(NOT CMAKE_CROSSCOMPILING)
  message(FATAL_ERROR "GoogleTest not found (Debian: libgtest-dev libgmock-dev)")
endif()

set(KTUTILS_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
  "GoogleTest sources to compile for the target in a cross build")
if(NOT EXISTS "${KTUTILS_GTEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "No GoogleTest sources in ${KTUTILS_GTEST_SOURCE_DIR} (Debian: googletest)")
endif()

function(_ktutils_add_googletest)
  set(BUILD_SHARED_LIBS OFF)
  set(BUILD_GMOCK ON)
  set(INSTALL_GTEST OFF)
  add_subdirectory("${KTUTILS_GTEST_SOURCE_DIR}" "${PROJECT_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
endfunction()
_ktutils_add_googletest()
