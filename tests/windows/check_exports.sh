#!/usr/bin/env bash
# check_exports.sh <objdump> <dll> <expected exports>: the DLL exports exactly
# the expected functions (demangled), and does not import the trust service,
# which it loads by name at each call so that it loads where that cannot.
set -euo pipefail
table=$("$1" -p "$2")
sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' <<<"$table" | c++filt |
    LC_ALL=C sort | diff -u --label expected --label "$(basename "$2")" "$3" -
if grep -qi 'DLL Name: wintrust' <<<"$table"; then echo "$2 imports wintrust.dll" >&2 && exit 1; fi
