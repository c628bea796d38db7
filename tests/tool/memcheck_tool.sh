#!/usr/bin/env bash
# Stands in for the ktutils tool in the tool tests and runs the real one
# (KTUTILS_REAL_TOOL) under valgrind's memcheck: a memory error or a leak
# makes it exit 99, which no test expects, so the test fails on it.
exec valgrind --quiet --error-exitcode=99 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
    "${KTUTILS_REAL_TOOL:?}" "$@"
