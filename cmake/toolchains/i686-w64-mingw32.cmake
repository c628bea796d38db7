# 32-bit Windows, the platform's own target (packages g++-mingw-w64-i686-posix
# and libz-mingw-w64-dev).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KTUTILS_MINGW_TRIPLET i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
