#!/bin/sh
# pkg_config_build.sh CXX PREFIX SOURCE OUTPUT STATIC(0|1) "EXTRA FLAGS": builds the consumer with nothing but
# the compiler and `pkg-config ktutils` (--static against a static build) from PREFIX, then runs it: the run paths
# of the flags must be enough, with no LD_LIBRARY_PATH.
set -eu
pc=$(ls "$2"/lib*/pkgconfig/ktutils.pc "$2"/lib/*/pkgconfig/ktutils.pc 2>/dev/null | head -n 1)
export PKG_CONFIG_PATH="${pc%/*}"
flags=$(pkg-config $([ "$5" = 1 ] && echo --static) --cflags --libs ktutils)
# shellcheck disable=SC2086 # the flags are words
"$1" -std=c++17 $6 "$3" -o "$4" $flags
env -u LD_LIBRARY_PATH "$4"
