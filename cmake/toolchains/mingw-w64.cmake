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

# The loader that runs this target's programs for ctest, found here rather
# than named in the presets: Debian's /usr/bin/wine wrapper starts every
# program through the 32-bit loader as soon as wine32:i386 is installed, and
# that loader cannot start a 64-bit program. So each toolchain names its own
# loader (KTUTILS_WINE_LOADER): the 64-bit one asks for wine64 itself, which
# nothing installed for 32-bit can redirect. A -DCMAKE_CROSSCOMPILING_EMULATOR
# given on the command line wins.
if(NOT DEFINED CACHE{CMAKE_CROSSCOMPILING_EMULATOR})
  find_program(KTUTILS_WINE NAMES ${KTUTILS_WINE_LOADER} HINTS /usr/lib/wine /usr/lib64/wine
    DOC "Wine loader that runs ${KTUTILS_MINGW_TRIPLET} programs")
  if(KTUTILS_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${KTUTILS_WINE}")
  endif()
endif()
