# KTUTILS_TARGET_RUNS: whether this build's programs can run here, so that
# ctest can run its tests. Always true for a native build. A cross build runs
# them through CMAKE_CROSSCOMPILING_EMULATOR (Wine for the MinGW presets), and
# a probe program proves that the emulator really runs them: a 64-bit-only
# Wine fails to start a 32-bit program yet exits with 0, which would pass
# every test unrun. Probed at every configure, so installing the emulator
# later is noticed.
#
# KTUTILS_REQUIRE_TARGET_RUNS turns a failed probe into a configure error. A
# build whose tests must run (the 64-bit Windows build in CI) sets it, so that
# a broken emulator cannot quietly shrink the suite to the checks that run
# natively while everything stays green.
option(KTUTILS_REQUIRE_TARGET_RUNS "Fail at configure time when this build's programs cannot run here" OFF)

# gtest_discover_tests(), where the tests can run; otherwise the test program
# is only built. Listing the tests starts the program, through Wine in a
# cross build, which takes seconds on a loaded machine: more than the
# default 5 s allowed.
function(ktutils_discover_tests)
  if(KTUTILS_TARGET_RUNS)
    gtest_discover_tests(${ARGV} DISCOVERY_TIMEOUT 120)
  endif()
endfunction()

if(NOT CMAKE_CROSSCOMPILING)
  set(KTUTILS_TARGET_RUNS ON)
  return()
endif()
set(KTUTILS_TARGET_RUNS OFF)
set(probe "${CMAKE_BINARY_DIR}/CMakeFiles/ktutils-target-runs.cpp")
file(WRITE "${probe}" "#include <cstdio>\nint main() { std::puts(\"ktutils target runs\"); return 0; }\n")

# A target that this machine may execute itself, 32-bit x86 on a 64-bit
# kernel, names its emulator as a fallback (KTUTILS_FALLBACK_EMULATOR, in its
# toolchain file): the probe runs directly first, and only where the kernel
# refuses it (no IA32 emulation: "Exec format error") do the tests run
# through the emulator. Decided at every configure, like the rest.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR AND KTUTILS_FALLBACK_EMULATOR)
  set(probe_program "${CMAKE_BINARY_DIR}/CMakeFiles/ktutils-target-runs-probe")
  try_compile(compile_result "${CMAKE_BINARY_DIR}/CMakeFiles/ktutils-target-runs" "${probe}"
    COPY_FILE "${probe_program}")
  if(compile_result)
    execute_process(COMMAND "${probe_program}" RESULT_VARIABLE run_result OUTPUT_VARIABLE run_output
      ERROR_VARIABLE run_error)
    if(run_result EQUAL 0 AND run_output MATCHES "ktutils target runs")
      set(KTUTILS_TARGET_RUNS ON)
      message(STATUS "ktutils: this machine runs ${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR} programs itself")
      return()
    endif()
    string(STRIP "${run_result} ${run_error}" run_error)
    message(STATUS "ktutils: the kernel does not run ${CMAKE_SYSTEM_PROCESSOR} programs (${run_error}); "
      "trying ${KTUTILS_FALLBACK_EMULATOR}")
    find_program(KTUTILS_EMULATOR NAMES ${KTUTILS_FALLBACK_EMULATOR}
      DOC "Emulator for this target's programs where the kernel cannot run them")
    if(KTUTILS_EMULATOR)
      set(CMAKE_CROSSCOMPILING_EMULATOR "${KTUTILS_EMULATOR}")
    endif()
  endif()
endif()

if(CMAKE_CROSSCOMPILING_EMULATOR)
  try_run(run_result compile_result "${CMAKE_BINARY_DIR}/CMakeFiles/ktutils-target-runs" "${probe}"
    RUN_OUTPUT_VARIABLE run_output)
  if(compile_result AND run_result EQUAL 0 AND run_output MATCHES "ktutils target runs")
    set(KTUTILS_TARGET_RUNS ON)
  endif()
endif()
if(KTUTILS_TARGET_RUNS)
  message(STATUS "ktutils: tests run through ${CMAKE_CROSSCOMPILING_EMULATOR}")
elseif(KTUTILS_REQUIRE_TARGET_RUNS)
  if(DEFINED compile_result AND NOT compile_result)
    set(why "the probe program did not build")
  elseif(NOT CMAKE_CROSSCOMPILING_EMULATOR AND KTUTILS_FALLBACK_EMULATOR)
    set(why "the kernel refused the probe program (${run_error}) and ${KTUTILS_FALLBACK_EMULATOR} was not found")
  elseif(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(why "no emulator was found (for the MinGW toolchains: Wine's loader, package wine64 or wine32:i386)")
  else()
    set(why "'${CMAKE_CROSSCOMPILING_EMULATOR}' ran the probe program with status '${run_result}' and output '${run_output}'")
  endif()
  message(FATAL_ERROR "ktutils: KTUTILS_REQUIRE_TARGET_RUNS is on, but this machine cannot run "
    "${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR} programs: ${why}.")
else()
  message(WARNING "ktutils: this machine cannot run ${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR} programs "
    "(emulator: '${CMAKE_CROSSCOMPILING_EMULATOR}'). The tests are built but not registered with ctest; "
    "only the checks that run on this machine are.")
endif()
