# 32-bit Windows, the platform's own target (packages g++-mingw-w64-i686-posix
# and libz-mingw-w64-dev).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KTUTILS_MINGW_TRIPLET i686-w64-mingw32)
# Debian's wrapper picks the 32-bit loader when wine32:i386 is installed.
set(KTUTILS_WINE_LOADER wine)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
