#!/usr/bin/env bash
# test_host32.sh - the probe and the gate of tests/host32.sh with stand-in loaders: a loader that runs gives
# the verdict yes, and the gate then runs the test and passes its exit code on (a failing test fails); a
# kernel that refuses 32-bit programs gives no with the reason, and the gate skips (77) without running the
# test; a missing loader, or one that fails in any other way, fails the probe.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kalhost32.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
expect() { # expect NAME CONDITION...
    local name=$1
    shift
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        failures=$((failures + 1))
    fi
}
loader() { # loader NAME EXIT OUTPUT: a stand-in loader that prints OUTPUT and exits with EXIT
    printf '#!/bin/sh\necho "%s" >&2\nexit %s\n' "$3" "$2" >"$work/$1"
    chmod +x "$work/$1"
}
verdict=$work/host32

loader runs 0 wine-8.0
"$here/host32.sh" probe "$verdict" "$work/runs" >/dev/null
expect "a loader that runs: the probe passes" [ $? = 0 ]
expect "a loader that runs: the verdict is yes" [ "$(cat "$verdict")" = yes ]
"$here/host32.sh" run "$verdict" sh -c 'exit 0'
expect "yes: a passing test passes" [ $? = 0 ]
"$here/host32.sh" run "$verdict" sh -c 'exit 1'
expect "yes: a failing test fails, not skipped" [ $? = 1 ]

loader refused 126 "/usr/lib/wine/wine: cannot execute binary file: Exec format error"
"$here/host32.sh" probe "$verdict" "$work/refused" >/dev/null
expect "a kernel that refuses 32-bit programs: the probe passes" [ $? = 0 ]
expect "the verdict is no" [ "$(head -n 1 "$verdict")" = no ]
expect "the verdict gives the reason" grep -q "IA-32 emulation is off" "$verdict"
out=$("$here/host32.sh" run "$verdict" sh -c "touch '$work/ran'")
expect "no: the gate skips with exit code 77" [ $? = 77 ]
expect "no: the test itself does not run" [ ! -e "$work/ran" ]
expect "no: the skip says why" grep -q "^SKIPPED: .*does not run 32-bit programs" <<<"$out"

"$here/host32.sh" probe "$verdict" "$work/missing" 2>/dev/null
expect "a missing loader fails the probe" [ $? = 1 ]
expect "a missing loader leaves no verdict" [ ! -e "$verdict" ]
loader broken 1 "wine: could not load kernel32.dll"
"$here/host32.sh" probe "$verdict" "$work/broken" 2>/dev/null
expect "a loader that fails otherwise fails the probe" [ $? = 1 ]
"$here/host32.sh" run "$verdict" true 2>/dev/null
expect "without a verdict the gate fails" [ $? = 1 ]

[ $failures = 0 ]
