# tests/consumer against the package installed into a prefix in the build tree, with pkg-config alone, and from
# the source tree through add_subdirectory; each build with this one's compiler and flags, so sanitizer builds link alike.
set(consumer_dir "${PROJECT_BINARY_DIR}/consumer-test")
set(consumer_options "-DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}" "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
  "-DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS}" "-DCMAKE_C_FLAGS=${CMAKE_C_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${CMAKE_EXE_LINKER_FLAGS}" "-DCMAKE_SHARED_LINKER_FLAGS=${CMAKE_SHARED_LINKER_FLAGS}")

if(KTUTILS_INSTALL)
  set(prefix "${consumer_dir}/prefix")
  # A fresh prefix each run, so a header removed from the tree is missed.
  add_test(NAME ktutils-consumer.clean-prefix COMMAND "${CMAKE_COMMAND}" -E rm -rf "${prefix}")
  add_test(NAME ktutils-consumer.install-prefix COMMAND "${CMAKE_COMMAND}" --install "${PROJECT_BINARY_DIR}" --prefix "${prefix}")
  set_tests_properties(ktutils-consumer.clean-prefix PROPERTIES FIXTURES_SETUP ktutils-prefix-clean)
  set_tests_properties(ktutils-consumer.install-prefix PROPERTIES FIXTURES_REQUIRED ktutils-prefix-clean FIXTURES_SETUP ktutils-installed)

  add_test(NAME ktutils-consumer.find-package
    COMMAND "${CMAKE_CTEST_COMMAND}" --build-and-test "${CMAKE_CURRENT_SOURCE_DIR}/consumer" "${consumer_dir}/find-package"
      --build-generator "${CMAKE_GENERATOR}" --build-options ${consumer_options} "-DCMAKE_PREFIX_PATH=${prefix}"
      -DKTUTILS_CONSUMER_MODE=package
      --test-command ktutils-consumer)
  set_tests_properties(ktutils-consumer.find-package PROPERTIES FIXTURES_REQUIRED ktutils-installed)

  add_test(NAME ktutils-consumer.pkg-config COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/consumer/pkg_config_build.sh"
    "${CMAKE_CXX_COMPILER}" "${prefix}" "${CMAKE_CURRENT_SOURCE_DIR}/consumer/main.cpp" "${consumer_dir}/pkg-config-consumer"
    "$<NOT:$<BOOL:${BUILD_SHARED_LIBS}>>" "${CMAKE_CXX_FLAGS} ${CMAKE_EXE_LINKER_FLAGS}")
  set_tests_properties(ktutils-consumer.pkg-config PROPERTIES FIXTURES_REQUIRED ktutils-installed)
endif()

# The parent's BUILD_SHARED_LIBS decides the linkage; the parent installs its program into a fresh prefix and
# the installed copy runs with nothing but its own run path.
set(subdir "${consumer_dir}/add-subdirectory")
add_test(NAME ktutils-consumer.add-subdirectory
  COMMAND "${CMAKE_CTEST_COMMAND}" --build-and-test "${CMAKE_CURRENT_SOURCE_DIR}/consumer" "${subdir}"
    --build-generator "${CMAKE_GENERATOR}" --build-options ${consumer_options} "-DBUILD_SHARED_LIBS=${BUILD_SHARED_LIBS}"
      -DKTUTILS_CONSUMER_MODE=subdirectory "-DKTUTILS_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    --test-command sh -c "rm -rf '${subdir}-prefix' && '${CMAKE_COMMAND}' --install '${subdir}' --prefix '${subdir}-prefix' >/dev/null && env -u LD_LIBRARY_PATH '${subdir}-prefix/bin/ktutils-consumer'")

# Each builds a project of its own against ktutils: the plain CI build runs them, the sanitizer and zlib-only
# presets leave the label out. Each prints what it decoded and the package version it was built against.
get_directory_property(consumer_tests TESTS)
list(FILTER consumer_tests INCLUDE REGEX "^ktutils-consumer\\.(find|pkg|add)")
set_tests_properties(${consumer_tests} PROPERTIES LABELS consumer
  PASS_REGULAR_EXPRESSION "KTMESSAGETYPE2_CHALLENGE from ktutils 0\\.0\\.0\\.3: KT_OK \\(package ${PROJECT_VERSION}\\)")
