# 32-bit x86 Linux, built by the system's GCC with -m32 (package g++-multilib)
# against Debian's i386 multiarch libraries (libssl-dev:i386 and the like,
# under /usr/lib/i386-linux-gnu); .ci/install-linux32 installs them.
#
# Cross-compiling as far as CMake is concerned: the programs may not run on
# this machine. Where the kernel cannot execute them itself (no IA32
# emulation), qemu-user runs them; cmake/KtutilsTargetRuns.cmake decides with
# a probe program and sets CMAKE_CROSSCOMPILING_EMULATOR only then.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT -m32)
endforeach()

# Libraries, packages and pkg-config files of i386 only: a 64-bit zlib or
# GoogleTest found in the build machine's own folders would fail at link time.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
  /usr/lib/x86_64-linux-gnu/cmake /usr/lib/x86_64-linux-gnu/pkgconfig)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)

set(KTUTILS_FALLBACK_EMULATOR qemu-i386-static)
