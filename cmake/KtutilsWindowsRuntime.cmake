# A Windows program finds its DLLs beside it, not through a run path. So that
# the tests run as built, under Wine or on Windows, every program and DLL of
# the build goes to one folder, together with the MinGW runtime DLLs that they
# import (libstdc++, libgcc, winpthread). The runtime stays a DLL rather than
# being linked into each module: 32-bit MinGW unwinds with DWARF tables that
# one shared libgcc must see, or an exception thrown by the message buffer's
# DLL could not be caught in ktutils.dll.
#
# Sets KTUTILS_MINGW_RUNTIME_DLLS, which the install rules ship beside the
# library.
if(NOT MINGW)
  return()
endif()

# zlib is linked in, so ktutils.dll has no zlib1.dll to ship with it.
set(ZLIB_USE_STATIC_LIBS ON)

if(PROJECT_IS_TOP_LEVEL AND NOT CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/bin")
endif()

set(KTUTILS_MINGW_RUNTIME_DLLS "")
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
  execute_process(
    COMMAND "${CMAKE_CXX_COMPILER}" "-print-file-name=${dll}"
    OUTPUT_VARIABLE path
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  # The compiler echoes the bare name for a DLL it does not have (the other
  # architecture's libgcc).
  if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
    get_filename_component(path "${path}" REALPATH)
    list(APPEND KTUTILS_MINGW_RUNTIME_DLLS "${path}")
  endif()
endforeach()

if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  file(COPY ${KTUTILS_MINGW_RUNTIME_DLLS} DESTINATION "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
endif()
