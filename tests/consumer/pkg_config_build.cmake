# cmake -DCXX=... -DPREFIX=... -DSOURCE=... -DOUTPUT=... [-DSTATIC=1] -P pkg_config_build.cmake
# Builds the consumer with nothing but the compiler and `pkg-config ktutils`
# (`--static` against a static build) from the installed prefix, then runs it.
find_program(PKG_CONFIG pkg-config REQUIRED)
file(GLOB pc_files "${PREFIX}/lib*/pkgconfig/ktutils.pc" "${PREFIX}/lib/*/pkgconfig/ktutils.pc")
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pc_dir}")

set(static_flag "")
if(STATIC)
  set(static_flag --static)
endif()
execute_process(COMMAND "${PKG_CONFIG}" ${static_flag} --cflags --libs ktutils
  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config ktutils failed")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")
get_filename_component(lib_dir "${pc_dir}" DIRECTORY)

execute_process(COMMAND "${CXX}" -std=c++17 ${extra} "${SOURCE}" -o "${OUTPUT}" ${flags}
    "-Wl,-rpath,${lib_dir}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "compiling with the pkg-config flags failed")
endif()
execute_process(COMMAND "${OUTPUT}" RESULT_VARIABLE rc OUTPUT_VARIABLE out)
message("${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the pkg-config consumer failed")
endif()
