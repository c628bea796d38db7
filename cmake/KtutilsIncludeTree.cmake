# Consumers write #include <ktutils/ktutils.h> and <ktutils/protocol/...>, and
# the library's own files include one another the same way, so that one
# spelling works against the build tree and an installed tree alike. The
# parts keep their folders at the top of the repository; the build tree gets
# include/ktutils/ with a link to each, and the generated headers (export
# macros, version) are written straight into it.
set(KTUTILS_INCLUDE_ROOT "${PROJECT_BINARY_DIR}/include")
set(KTUTILS_GENERATED_INCLUDE_DIR "${KTUTILS_INCLUDE_ROOT}/ktutils")
file(MAKE_DIRECTORY "${KTUTILS_GENERATED_INCLUDE_DIR}")
foreach(part checksum host library protocol ktutils.h)
  file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${part}" "${KTUTILS_GENERATED_INCLUDE_DIR}/${part}"
    RESULT link_result SYMBOLIC)
  if(link_result)
    message(FATAL_ERROR "ktutils: cannot link ${KTUTILS_GENERATED_INCLUDE_DIR}/${part} "
      "to the source tree (${link_result}); the build tree needs a file system with symbolic links.")
  endif()
endforeach()
