# Installs the libraries, the public headers, the tool, a CMake package
# (find_package(ktutils) gives ktutils::ktutils) and a pkg-config file.
#
# The headers include one another by their path from the source root
# ("host/nq2/nq_message_buffer.h"), so they keep that tree under
# <prefix>/include/ktutils, and that folder is on the consumer's include path:
# a consumer writes #include <ktutils.h>, as it does against the source tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KTUTILS_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/ktutils"
  CACHE STRING "Where ktutilsConfig.cmake is installed, below the prefix")
set(ktutils_include_dir "${CMAKE_INSTALL_INCLUDEDIR}/ktutils")

foreach(target ktutils nq2 mqmath)
  target_include_directories(${target} INTERFACE "$<INSTALL_INTERFACE:${ktutils_include_dir}>")
endforeach()

# Relocatable: the libraries find one another, and the tool finds them,
# wherever the prefix is moved.
if(UNIX AND NOT APPLE)
  set_target_properties(ktutils nq2 mqmath PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(TARGET ktutils-cli)
    file(RELATIVE_PATH ktutils_bin_to_lib "/-/${CMAKE_INSTALL_BINDIR}" "/-/${CMAKE_INSTALL_LIBDIR}")
    set_target_properties(ktutils-cli PROPERTIES INSTALL_RPATH "$ORIGIN/${ktutils_bin_to_lib}")
  endif()
endif()

install(TARGETS ktutils nq2 mqmath
  EXPORT ktutilsTargets
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT ktutils_runtime
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT ktutils_runtime
    NAMELINK_COMPONENT ktutils_development
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT ktutils_development)

# The MinGW runtime DLLs that the DLLs import, beside them.
if(KTUTILS_MINGW_RUNTIME_DLLS)
  install(FILES ${KTUTILS_MINGW_RUNTIME_DLLS}
    DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT ktutils_runtime)
endif()

install(FILES ktutils.h
  DESTINATION "${ktutils_include_dir}" COMPONENT ktutils_development)
# Every public header of each part; protocol/detail is the codec's own.
foreach(part checksum host library protocol)
  install(DIRECTORY "${part}/"
    DESTINATION "${ktutils_include_dir}/${part}" COMPONENT ktutils_development
    FILES_MATCHING PATTERN "*.h"
    PATTERN "detail" EXCLUDE
    # The kernel32 stand-ins and the trust provider are the library's own.
    PATTERN "win32" EXCLUDE
    PATTERN "wintrust" EXCLUDE)
endforeach()
install(FILES
    "${PROJECT_BINARY_DIR}/include/ktutils_export.h"
    "${PROJECT_BINARY_DIR}/include/nq2_export.h"
    "${PROJECT_BINARY_DIR}/include/mqmath_export.h"
  DESTINATION "${ktutils_include_dir}" COMPONENT ktutils_development)

# The trust provider that VerifyServerComponent loads by name off Windows:
# beside the library, where the library looks first.
if(TARGET wintrust)
  install(TARGETS wintrust LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT ktutils_runtime)
endif()

if(TARGET ktutils-cli)
  install(TARGETS ktutils-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT ktutils_runtime)
  install(FILES "${PROJECT_BINARY_DIR}/tools/ktutils.1"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT ktutils_runtime)
  # Where bash-completion looks for a command's script: by the command's name.
  install(FILES tools/share/ktutils.bash RENAME ktutils
    DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" COMPONENT ktutils_runtime)
  # Wireshark reads global Lua plugins from <libdir>/wireshark/plugins (Debian:
  # /usr/lib/<multiarch>/wireshark/plugins, see `tshark -G folders`).
  set(KTUTILS_WIRESHARK_PLUGIN_DIR "${CMAKE_INSTALL_LIBDIR}/wireshark/plugins" CACHE STRING
      "Where cmake --install puts the Wireshark dissector ktutils.lua")
  install(FILES tools/wireshark/ktutils.lua DESTINATION "${KTUTILS_WIRESHARK_PLUGIN_DIR}"
          COMPONENT ktutils_wireshark)
endif()

install(EXPORT ktutilsTargets
  NAMESPACE ktutils::
  DESTINATION "${KTUTILS_INSTALL_CMAKEDIR}" COMPONENT ktutils_development)
configure_package_config_file(cmake/ktutilsConfig.cmake.in
  "${PROJECT_BINARY_DIR}/ktutilsConfig.cmake"
  INSTALL_DESTINATION "${KTUTILS_INSTALL_CMAKEDIR}")
# The major version is the ABI: a consumer built against 1.x runs with any 1.y.
write_basic_package_version_file("${PROJECT_BINARY_DIR}/ktutilsConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES
    "${PROJECT_BINARY_DIR}/ktutilsConfig.cmake"
    "${PROJECT_BINARY_DIR}/ktutilsConfigVersion.cmake"
  DESTINATION "${KTUTILS_INSTALL_CMAKEDIR}" COMPONENT ktutils_development)

# pkg-config: the prefix relative to the .pc file, so the installed tree can
# be moved, and `cmake --install --prefix` needs no reconfiguring.
file(RELATIVE_PATH KTUTILS_PC_TO_PREFIX "/-/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/-")
string(REGEX REPLACE "/$" "" KTUTILS_PC_TO_PREFIX "${KTUTILS_PC_TO_PREFIX}")
if(BUILD_SHARED_LIBS)
  set(KTUTILS_PC_CFLAGS "")
else()
  set(KTUTILS_PC_CFLAGS "-DKTUTILS_STATIC_DEFINE -DNQ2_STATIC_DEFINE -DMQMATH_STATIC_DEFINE")
endif()
# What a static libktutils.a still needs at the consumer's link.
set(KTUTILS_PC_LIBS_PRIVATE "-lz")
if(KTUTILS_WITH_LIBDEFLATE)
  string(APPEND KTUTILS_PC_LIBS_PRIVATE " -ldeflate")
endif()
configure_file(cmake/ktutils.pc.in "${PROJECT_BINARY_DIR}/ktutils.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/ktutils.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig" COMPONENT ktutils_development)
