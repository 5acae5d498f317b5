#!/usr/bin/env bash
# entries-once.sh NM LIBRARY PROGRAM=MAIN... - the program entry InstallMain is defined nowhere in the system
# library LIBRARY, and exactly once in each PROGRAM, by its main file MAIN (a path ending, e.g.
# app/setup_main.cpp) where the program carries line information. Read with NM, so the programs must keep
# their symbols. Prints a line for each program and each fault; the status is 0 when there is no fault.
set -uo pipefail
nm=$1
lib=$2
shift 2
bad=0
# definitions FILE: the lines of NM that define InstallMain in FILE (every member of an archive), with the
# source line where NM gives it (-l; llvm-nm has no such option). Fails when NM cannot read FILE.
definitions() {
    local out
    out=$("$nm" -l --defined-only "$1" 2>/dev/null) || out=$("$nm" --defined-only "$1") || return 1
    grep -E ' [A-Z] _Z11InstallMainv([[:space:]]|$)' <<<"$out"
    return 0
}
if ! lines=$(definitions "$lib"); then
    echo "FAIL $lib: $nm cannot read it"
    exit 1
fi
n=$(grep -c . <<<"$lines")
if [ "$n" -ne 0 ]; then
    echo "FAIL $lib: defines InstallMain ($n times); a program's entry belongs in its main file"
    bad=1
fi
for pair in "$@"; do
    program=${pair%%=*}
    main=${pair#*=}
    if ! lines=$(definitions "$program"); then
        echo "FAIL $program: $nm cannot read it"
        bad=1
        continue
    fi
    n=$(grep -c . <<<"$lines")
    if [ "$n" -ne 1 ]; then
        echo "FAIL $program: InstallMain defined $n times, expected once"
        bad=1
    elif ! grep -q ':[0-9]' <<<"$lines"; then
        echo "ok $program: InstallMain defined once (no line information to tell the file)"
    elif ! grep -q "$main:[0-9]" <<<"$lines"; then
        echo "FAIL $program: InstallMain not from $main: $lines"
        bad=1
    else
        echo "ok $program: InstallMain defined once, by $main"
    fi
done
exit $bad
