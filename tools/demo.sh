#!/usr/bin/env bash
# The README's demo: a reference server and client shake hands on loopback,
# then a file is checksummed, marked and checked; each step printed.
# Usage: demo.sh PATH/TO/ktutils
set -euo pipefail
ktutils=${1:?usage: demo.sh PATH/TO/ktutils}
# Absolute, since the file steps run in a scratch folder.
[[ $ktutils == */* ]] && ktutils=$(realpath "$ktutils")

work=$(mktemp -d)
server=
cleanup() {
    [[ -n $server ]] && kill "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

step() { printf '\n$ %s\n' "$*"; }

step ktutils version
"$ktutils" version

# The server picks a free port and says which on its first line.
step ktutils serve --port 0 --clients 1 --module 2a-1:3
mkfifo "$work/server.out"
"$ktutils" serve --port 0 --clients 1 --module 2a-1:3 >"$work/server.out" &
server=$!
exec 3<"$work/server.out"
read -r -t 10 listening <&3
echo "$listening"
port=${listening##*:}

# The server's lines follow the client's, so the two logs stay readable.
step ktutils connect "127.0.0.1:$port" --module 2a-1:3
"$ktutils" connect "127.0.0.1:$port" --module 2a-1:3
echo "(server)"
timeout 10 cat <&3
wait "$server"
server=

# A file's checksum, kept beside it in a marker, and checked against it.
cd "$work"
printf 'a server component, or any file\n' > component.dat
step ktutils crc component.dat
"$ktutils" crc component.dat
step ktutils marker write component.dat
"$ktutils" marker write component.dat
step ktutils marker check component.dat
"$ktutils" marker check component.dat

# Once the file changes, its marker no longer vouches for it.
printf 'changed\n' >> component.dat
step ktutils marker check component.dat
status=0
"$ktutils" marker check component.dat || status=$?
echo "(exit status $status)"
