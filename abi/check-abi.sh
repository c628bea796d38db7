#!/usr/bin/env bash
# Compares the ABI of the shared libraries a consumer links (libktutils,
# libnq2, libmqmath) with the baselines in abi/, using libabigail (Debian:
# abigail-tools). Added functions pass; anything else that changes an
# existing interface (a removed or changed function, a type whose layout
# changed) fails, unless the major version, hence the SONAME, was raised.
#
#   abi/check-abi.sh            build the libraries into build/abi and check
#   abi/check-abi.sh --refresh  build them and rewrite the baselines
#   ABI_BUILD_DIR=<dir> ...     use libraries already built there (with -g)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode="check"
if [[ "${1:-}" == "--refresh" ]]; then mode="refresh"; fi

build="${ABI_BUILD_DIR:-}"
if [[ -z "$build" ]]; then
  # Debug information is what abidw reads the types from.
  build="$root/build/abi"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKTUTILS_BUILD_TESTS=OFF -DKTUTILS_BUILD_TOOLS=OFF -DKTUTILS_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" --target ktutils nq2 mqmath -j 2
fi

abi_dump() {
  abidw --no-corpus-path --no-comp-dir-path --no-show-locs --drop-undefined-syms \
    --type-id-style hash --out-file "$2" "$1"
}

status=0
for lib in "$build/libktutils.so" "$build/ktutils/libnq2.so" "$build/ktutils/libmqmath.so"; do
  soname="$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
  stem="${soname%%.so.*}"
  baseline="$root/abi/$soname.abi"
  if [[ "$mode" == "refresh" ]]; then
    rm -f "$root/abi/$stem".so.*.abi
    abi_dump "$lib" "$baseline"
    echo "abi: wrote $baseline"
    continue
  fi
  if [[ ! -f "$baseline" ]]; then
    if compgen -G "$root/abi/$stem.so.*.abi" >/dev/null; then
      echo "abi: $soname is a new major version; record its baseline with abi/check-abi.sh --refresh"
      continue
    fi
    echo "abi: no baseline for $soname (abi/check-abi.sh --refresh writes it)" >&2
    status=1
    continue
  fi
  current="$(mktemp)"
  abi_dump "$lib" "$current"
  if abidiff --no-added-syms "$baseline" "$current"; then
    echo "abi: $soname keeps the interface of its baseline"
  else
    echo "abi: $soname changed its interface without a new major version (above)" >&2
    status=1
  fi
  rm -f "$current"
done
exit "$status"
