# cmake -DBUILD=... -DPREFIX=... -P install_and_run.cmake
# Installs the consumer project into a fresh prefix and runs the installed
# program with nothing but its own run path to find the libraries.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installing the consumer failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH
    "${PREFIX}/bin/ktutils-consumer"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed consumer failed")
endif()
