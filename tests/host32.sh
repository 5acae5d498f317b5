#!/usr/bin/env bash
# host32.sh - whether this host runs 32-bit programs, decided once per test run, and the gate of every test
# that must run 32-bit code.
#   host32.sh probe VERDICT LOADER   starts Wine's 32-bit loader with --version and writes the verdict to the
#                                    file VERDICT: "yes", or "no" and the reason on the next line. It fails
#                                    only when the loader is missing or fails in another way: then the host
#                                    could run the tests and something is broken.
#   host32.sh run VERDICT CMD...     runs CMD where the verdict is yes; where it is no, prints the reason and
#                                    exits with 77, which CTest reports as skipped (SKIP_RETURN_CODE).
# Some hosts have the kernel's IA-32 emulation off: any i386 program, the 32-bit Wine loader among them,
# fails with "Exec format error" (exit 126), although Debian installs wine32:i386 there without complaint.
set -uo pipefail
skip=77

case ${1:-} in
probe)
    verdict=${2:?verdict file}
    loader=${3:?32-bit Wine loader}
    rm -f "$verdict"
    if [ ! -e "$loader" ]; then
        echo "host32: Wine's 32-bit loader $loader is missing: install wine32:i386 (tools/deps.sh test)" >&2
        exit 1
    fi
    out=$("$loader" --version 2>&1)
    rc=$?
    if [ $rc -eq 0 ]; then
        printf 'yes\n' >"$verdict"
        echo "host32: this host runs 32-bit programs ($loader --version: $out)"
        exit 0
    fi
    case $out in
    *"Exec format error"*)
        why="this host's kernel does not run 32-bit programs (IA-32 emulation is off: $loader --version gives"
        why="$why \"Exec format error\")"
        printf 'no\n%s\n' "$why" >"$verdict"
        echo "host32: $why; the tests that run 32-bit code are skipped"
        exit 0
        ;;
    esac
    echo "host32: $loader --version failed (exit $rc): $out" >&2
    exit 1
    ;;
run)
    verdict=${2:?verdict file}
    shift 2
    if [ ! -f "$verdict" ]; then
        echo "host32: no verdict in $verdict: the test host32_probe did not run" >&2
        exit 1
    fi
    if [ "$(head -n 1 "$verdict")" = no ]; then
        echo "SKIPPED: $(sed -n 2p "$verdict")"
        exit $skip
    fi
    exec "$@"
    ;;
*)
    echo "usage: host32.sh probe VERDICT LOADER | run VERDICT CMD..." >&2
    exit 2
    ;;
esac
