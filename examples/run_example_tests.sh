#!/bin/sh
# The examples that need more than one run, as ctest runs them:
#   run_example_tests.sh pair SERVER CLIENT   the server on a free loopback port; a client it admits, then one it
#                                              refuses for its protocol version and one for a missing module
#   run_example_tests.sh tree CHECKSUM_TREE    a folder marked, checked, changed, checked again
set -eu
fail() { echo "run_example_tests.sh: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; [ -z "${server:-}" ] || kill "$server" 2>/dev/null || true' EXIT

case "$1" in
pair)
    "$2" --clients 3 --module 2a-1:3 >"$scratch/log" &
    server=$!
    for _ in $(seq 100); do grep -q '^listening' "$scratch/log" && break; sleep 0.1; done
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$scratch/log")
    [ -n "$port" ] || fail "the server did not start"
    "$3" 127.0.0.1 "$port" --module 2a-1:3 || fail "a client that keeps the rules was not admitted"
    ! "$3" 127.0.0.1 "$port" --module 2a-1:3 --version 9.9.9.9 >"$scratch/version" || fail "a client of another version was admitted"
    ! "$3" 127.0.0.1 "$port" --module 2a-1:4 >"$scratch/module" || fail "a client without the module was admitted"
    wait "$server" || fail "the server failed"
    server=
    cat "$scratch/log" "$scratch/version" "$scratch/module"
    grep -q "^recv KTMESSAGETYPE2_BADVERSION " "$scratch/version" || fail "the wrong version was not answered BADVERSION"
    grep -q "^recv KTMESSAGETYPE2_BADMODULE " "$scratch/module" || fail "the missing module was not answered BADMODULE"
    ;;
tree)
    mkdir -p "$scratch/tree/a/b"
    printf one >"$scratch/tree/x" && printf two >"$scratch/tree/a/b/y" && : >"$scratch/tree/a/empty"
    "$2" mark "$scratch/tree" && "$2" check "$scratch/tree" || fail "a freshly marked tree does not check"
    printf more >>"$scratch/tree/a/b/y"
    ! "$2" check "$scratch/tree" || fail "a changed file went unnoticed"
    "$2" mark "$scratch/tree" && rm "$scratch/tree/x.crc"
    ! "$2" check "$scratch/tree" || fail "a missing marker went unnoticed"
    ;;
*) fail "unknown test $1" ;;
esac
