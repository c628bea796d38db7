# 64-bit Windows (packages g++-mingw-w64-x86-64-posix and libz-mingw-w64-dev):
# the target whose tests run under Debian's 64-bit Wine, through its own
# 64-bit loader (package wine64).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KTUTILS_MINGW_TRIPLET x86_64-w64-mingw32)
set(KTUTILS_WINE_LOADER wine64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
