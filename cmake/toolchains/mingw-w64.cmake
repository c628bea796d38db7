# Shared by the MinGW-w64 toolchain files: Debian's cross compilers (the
# -posix flavour, whose libstdc++ has std::thread) and the target's own
# headers and libraries under /usr/<triplet>, zlib among them
# (libz-mingw-w64-dev). Host programs (objdump, wine, python) stay the
# build machine's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KTUTILS_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KTUTILS_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KTUTILS_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KTUTILS_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
