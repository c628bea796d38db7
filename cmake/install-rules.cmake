# Installs the libraries, the public headers, the tool, a CMake package
# (find_package(ktutils) gives ktutils::ktutils) and a pkg-config file.
#
# The headers include one another as <ktutils/part/header.h>, so they keep
# their tree under <prefix>/include/ktutils and <prefix>/include is the
# consumer's include path: a consumer writes #include <ktutils/ktutils.h>, as
# it does against the build tree.
#
# Under add_subdirectory() only the runtime part is installed (component
# ktutils_runtime): the shared libraries and the trust provider that a
# parent's installed program needs. KTUTILS_INSTALL adds everything else.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Relocatable by default: libktutils finds the stand-ins and the trust
# provider below itself (its run path $ORIGIN/ktutils is set with the build
# tree's layout in CMakeLists.txt), the tool finds both folders
# relative to itself. A distribution's package (KTUTILS_DISTRO_LAYOUT) has
# the library in a folder the loader searches anyway: the tool then carries
# only the absolute private folder, which it needs because it calls libnq2
# directly, as every program using the buffer does.
option(KTUTILS_DISTRO_LAYOUT
  "Install for a distribution package: no run path to the system's own library folder" OFF)
if(UNIX AND NOT APPLE)
  set_target_properties(nq2 mqmath PROPERTIES INSTALL_RPATH "")
  if(TARGET ktutils-cli-installed)
    if(KTUTILS_DISTRO_LAYOUT)
      set(ktutils_cli_rpath "${CMAKE_INSTALL_FULL_LIBDIR}/ktutils")
    else()
      file(RELATIVE_PATH ktutils_bin_to_lib "/-/${CMAKE_INSTALL_BINDIR}" "/-/${CMAKE_INSTALL_LIBDIR}")
      set(ktutils_cli_rpath "$ORIGIN/${ktutils_bin_to_lib};$ORIGIN/${ktutils_bin_to_lib}/ktutils")
    endif()
    set_target_properties(ktutils-cli-installed PROPERTIES INSTALL_RPATH "${ktutils_cli_rpath}")
  endif()
endif()

# A static library is part of the program that links it: under
# add_subdirectory() there is nothing of it to install.
if(BUILD_SHARED_LIBS OR KTUTILS_INSTALL)
  install(TARGETS ktutils
    EXPORT ktutils-${KTUTILS_LINKAGE}-targets
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT ktutils_runtime
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT ktutils_runtime
      NAMELINK_COMPONENT ktutils_development
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT ktutils_development)
  install(TARGETS nq2 mqmath
    EXPORT ktutils-${KTUTILS_LINKAGE}-targets
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT ktutils_runtime
    LIBRARY DESTINATION "${KTUTILS_PRIVATE_LIBDIR}" COMPONENT ktutils_runtime
      NAMELINK_COMPONENT ktutils_development
    ARCHIVE DESTINATION "${KTUTILS_PRIVATE_LIBDIR}" COMPONENT ktutils_development)
endif()

# The MinGW runtime DLLs that the DLLs import, beside them.
if(KTUTILS_MINGW_RUNTIME_DLLS)
  install(FILES ${KTUTILS_MINGW_RUNTIME_DLLS}
    DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT ktutils_runtime)
endif()

# The trust provider that VerifyServerComponent loads off Windows, from
# libktutils' private folder (or, when ktutils is linked statically, from the
# program's view of it: docs/signature.md).
if(TARGET wintrust)
  install(TARGETS wintrust
    LIBRARY DESTINATION "${KTUTILS_PRIVATE_LIBDIR}" COMPONENT ktutils_runtime)
endif()

if(NOT KTUTILS_INSTALL)
  return()
endif()

# A consumer's program calls libnq2 itself (the buffer), so it needs the
# private folder on its own run path when the libraries are shared.
if(UNIX AND NOT APPLE AND BUILD_SHARED_LIBS)
  foreach(target nq2 mqmath)
    target_link_options(${target} INTERFACE
      "$<INSTALL_INTERFACE:LINKER:-rpath,$<INSTALL_PREFIX>/${KTUTILS_PRIVATE_LIBDIR}>")
  endforeach()
endif()

set(KTUTILS_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/ktutils"
  CACHE STRING "Where ktutilsConfig.cmake is installed, below the prefix")
set(ktutils_include_dir "${CMAKE_INSTALL_INCLUDEDIR}/ktutils")

foreach(target ktutils nq2 mqmath)
  target_include_directories(${target} INTERFACE "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
endforeach()

install(FILES ktutils/ktutils.h
  DESTINATION "${ktutils_include_dir}" COMPONENT ktutils_development)
# Every public header of each part; protocol/detail is the codec's own.
foreach(part checksum host library protocol)
  install(DIRECTORY "ktutils/${part}/"
    DESTINATION "${ktutils_include_dir}/${part}" COMPONENT ktutils_development
    FILES_MATCHING PATTERN "*.h"
    PATTERN "detail" EXCLUDE
    # The kernel32 stand-ins and the trust provider are the library's own.
    PATTERN "win32" EXCLUDE
    PATTERN "wintrust" EXCLUDE)
endforeach()
install(FILES
    "${KTUTILS_GENERATED_INCLUDE_DIR}/ktutils_export.h"
    "${KTUTILS_GENERATED_INCLUDE_DIR}/ktutils_version.h"
    "${KTUTILS_GENERATED_INCLUDE_DIR}/nq2_export.h"
    "${KTUTILS_GENERATED_INCLUDE_DIR}/mqmath_export.h"
  DESTINATION "${ktutils_include_dir}" COMPONENT ktutils_development)

if(TARGET ktutils-cli)
  install(TARGETS ktutils-cli-installed RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT ktutils_tools)
  install(FILES "${PROJECT_BINARY_DIR}/tools/ktutils.1"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT ktutils_tools)
  # Where bash-completion looks for a command's script: by the command's name.
  install(FILES tools/share/ktutils.bash RENAME ktutils
    DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" COMPONENT ktutils_tools)
  # Wireshark reads global Lua plugins from <libdir>/wireshark/plugins (Debian:
  # /usr/lib/<multiarch>/wireshark/plugins, see `tshark -G folders`).
  set(KTUTILS_WIRESHARK_PLUGIN_DIR "${CMAKE_INSTALL_LIBDIR}/wireshark/plugins" CACHE STRING
      "Where cmake --install puts the Wireshark dissector ktutils.lua")
  install(FILES tools/wireshark/ktutils.lua DESTINATION "${KTUTILS_WIRESHARK_PLUGIN_DIR}"
          COMPONENT ktutils_wireshark)
endif()

# Each linkage its own targets file, so a shared and a static install into one
# prefix keep both; ktutilsConfig.cmake is the same for both and picks one.
install(EXPORT ktutils-${KTUTILS_LINKAGE}-targets
  NAMESPACE ktutils::
  DESTINATION "${KTUTILS_INSTALL_CMAKEDIR}" COMPONENT ktutils_development)
# What a static libktutils.a still needs at the consumer's link.
if(BUILD_SHARED_LIBS)
  file(WRITE "${PROJECT_BINARY_DIR}/ktutils-${KTUTILS_LINKAGE}-dependencies.cmake" "")
else()
  configure_file(cmake/ktutils-static-dependencies.cmake.in
    "${PROJECT_BINARY_DIR}/ktutils-${KTUTILS_LINKAGE}-dependencies.cmake" @ONLY)
endif()
install(FILES "${PROJECT_BINARY_DIR}/ktutils-${KTUTILS_LINKAGE}-dependencies.cmake"
  DESTINATION "${KTUTILS_INSTALL_CMAKEDIR}" COMPONENT ktutils_development)
configure_package_config_file(cmake/ktutilsConfig.cmake.in
  "${PROJECT_BINARY_DIR}/ktutilsConfig.cmake"
  INSTALL_DESTINATION "${KTUTILS_INSTALL_CMAKEDIR}")
# The major version is the ABI: a consumer built against 1.x runs with any 1.y
# (abi/ holds the checked interface).
write_basic_package_version_file("${PROJECT_BINARY_DIR}/ktutilsConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
# A distribution ships the licence in its own copyright file.
if(NOT KTUTILS_DISTRO_LAYOUT)
  install(FILES LICENSE
    DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/ktutils" COMPONENT ktutils_development)
endif()
install(FILES
    "${PROJECT_BINARY_DIR}/ktutilsConfig.cmake"
    "${PROJECT_BINARY_DIR}/ktutilsConfigVersion.cmake"
  DESTINATION "${KTUTILS_INSTALL_CMAKEDIR}" COMPONENT ktutils_development)

# pkg-config: the prefix relative to the .pc file, so the installed tree can
# be moved, and `cmake --install --prefix` needs no reconfiguring. The same
# file for a shared and a static build, so either install may write it: what
# only a static link needs is in the .private fields, which
# `pkg-config --static` adds (zlib and libdeflate through their own .pc files).
# A distribution's file names its fixed prefix, so pkg-config can drop the
# system folders from the flags.
# A program linked with the flags runs from the installed tree as it is: the
# run paths name the library's folder and its private folder. A
# distribution's library folder is the loader's own, so its file names only
# the private one.
if(KTUTILS_DISTRO_LAYOUT)
  set(KTUTILS_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(KTUTILS_PC_RUN_PATHS "-Wl,-rpath,\${privatelibdir}")
else()
  set(KTUTILS_PC_RUN_PATHS "-Wl,-rpath,\${libdir} -Wl,-rpath,\${privatelibdir}")
  file(RELATIVE_PATH ktutils_pc_to_prefix "/-/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/-")
  string(REGEX REPLACE "/$" "" ktutils_pc_to_prefix "${ktutils_pc_to_prefix}")
  set(KTUTILS_PC_PREFIX "\${pcfiledir}/${ktutils_pc_to_prefix}")
endif()
set(KTUTILS_PC_REQUIRES_PRIVATE "zlib")
if(KTUTILS_WITH_LIBDEFLATE)
  string(APPEND KTUTILS_PC_REQUIRES_PRIVATE " libdeflate")
endif()
set(KTUTILS_PC_LIBS_PRIVATE "")
if(CMAKE_DL_LIBS)
  set(KTUTILS_PC_LIBS_PRIVATE "-l${CMAKE_DL_LIBS}")  # the trust provider is loaded with dlopen
endif()
configure_file(cmake/ktutils.pc.in "${PROJECT_BINARY_DIR}/ktutils.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/ktutils.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig" COMPONENT ktutils_development)
