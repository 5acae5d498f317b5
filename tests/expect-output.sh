#!/usr/bin/env bash
# expect-output.sh EXPECTED COMMAND... - runs the command and compares its standard output (line ends
# normalised) with the file EXPECTED.
set -uo pipefail
expected=$1
shift
actual=$(mktemp)
"$@" </dev/null | tr -d '\r' >"$actual"
rc=${PIPESTATUS[0]}
if [ "$rc" -ne 0 ]; then
    echo "command failed with exit code $rc: $*" >&2
    rm -f "$actual"
    exit 1
fi
if ! diff -u "$expected" "$actual"; then
    rm -f "$actual"
    exit 1
fi
rm -f "$actual"
