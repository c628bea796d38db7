#!/usr/bin/env bash
# check_exports.sh <objdump> <dll> <expected exports>
#
# The DLL's export table, demangled, must be exactly the expected list: a
# function that lost its export macro, or a helper that gained one, fails.
# And the trust service must not be among the DLL's imports: it is loaded by
# name at each call, so that the library loads where wintrust.dll cannot.
set -euo pipefail
objdump=$1 dll=$2 expected=$3

table=$("$objdump" -p "$dll")
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$table" |
          sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | c++filt | LC_ALL=C sort)
if ! diff -u --label expected --label "$(basename "$dll")" "$expected" - <<<"$exports"; then
  echo "The exports of $dll differ from $expected (- missing, + unexpected)." >&2
  exit 1
fi
echo "$(wc -l <<<"$exports") exports, as expected."

if grep -i -q 'DLL Name: wintrust' <<<"$table"; then
  echo "$dll imports wintrust.dll; it must load it by name instead." >&2
  exit 1
fi
