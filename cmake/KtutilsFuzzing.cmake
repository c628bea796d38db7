# ktutils_add_fuzzer(<name> SOURCES <file>... CORPUS <dir> [LIBRARIES <target>...])
#
# One harness (a source defining LLVMFuzzerTestOneInput), built two ways:
#  - with KTUTILS_BUILD_TESTS: <name>-replay, a plain program that hands every
#    file of CORPUS to the harness once; registered as the ctest test
#    fuzz-replay.<name>, so every test run, sanitized or not, exercises it
#    (where this build's programs can run: KTUTILS_TARGET_RUNS);
#  - with KTUTILS_BUILD_FUZZERS (clang): <name>, linked with libFuzzer, and the
#    ctest test fuzz.<name>, labelled "fuzz", which fuzzes for
#    KTUTILS_FUZZ_SECONDS starting from CORPUS. New inputs go to
#    <build>/fuzz/found/<name>, never into the seeds.
# The replay main is the target ktutils-fuzz-replay-main (fuzz/CMakeLists.txt).
function(ktutils_add_fuzzer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "CORPUS" "SOURCES;LIBRARIES")
  if(NOT arg_SOURCES OR NOT arg_CORPUS)
    message(FATAL_ERROR "ktutils_add_fuzzer(${name}): SOURCES and CORPUS are required")
  endif()

  if(KTUTILS_BUILD_TESTS)
    add_executable(${name}-replay ${arg_SOURCES})
    target_link_libraries(${name}-replay PRIVATE ktutils-fuzz-replay-main ${arg_LIBRARIES})
    ktutils_set_warnings(${name}-replay)
    if(KTUTILS_TARGET_RUNS)
      add_test(NAME fuzz-replay.${name} COMMAND ${name}-replay "${arg_CORPUS}")
    endif()
  endif()

  if(KTUTILS_BUILD_FUZZERS)
    add_executable(${name} ${arg_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${arg_LIBRARIES})
    ktutils_set_warnings(${name})
    set(found "${PROJECT_BINARY_DIR}/fuzz/found/${name}")
    file(MAKE_DIRECTORY "${found}")
    add_test(NAME fuzz.${name}
      COMMAND ${name} -max_total_time=${KTUTILS_FUZZ_SECONDS} -print_final_stats=1
              -artifact_prefix=${PROJECT_BINARY_DIR}/fuzz/${name}- "${found}" "${arg_CORPUS}")
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz)
  endif()
endfunction()

if(KTUTILS_BUILD_FUZZERS AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "KTUTILS_BUILD_FUZZERS needs clang (libFuzzer); use the fuzz preset")
endif()
