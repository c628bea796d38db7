# Consumers write #include <ktutils/ktutils.h> and <ktutils/protocol/...>,
# and the library's own files include one another the same way, so that one
# spelling works against the source tree and an installed tree alike: the
# include path is the repository's root, where ktutils/ holds the parts. The
# generated headers (export macros, version) go to include/ktutils/ in the
# build tree, a second root on the same path, so they are reached as
# <ktutils/ktutils_export.h> too without writing into the sources.
set(KTUTILS_GENERATED_INCLUDE_DIR "${PROJECT_BINARY_DIR}/include/ktutils")
set(KTUTILS_INCLUDE_DIRS "${PROJECT_SOURCE_DIR}" "${PROJECT_BINARY_DIR}/include")
file(MAKE_DIRECTORY "${KTUTILS_GENERATED_INCLUDE_DIR}")
