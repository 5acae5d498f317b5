#!/usr/bin/env bash
# plat-path.sh PLAT-PATH - the plat-path tool on a fresh machine: both directions, Cyrillic names, the case
# of existing names, and its exit codes.
set -uo pipefail
tool=$1
root=$(mktemp -d "${TMPDIR:-/tmp}/kalpath.XXXXXX")
trap 'rm -rf "$root"' EXIT
export PLAT_ROOT=$root/machine
fail=0
check() { # check WANT-RC WANT-OUTPUT ARGS...
    local want_rc=$1 want=$2
    shift 2
    local out rc
    out=$("$tool" "$@" 2>/dev/null)
    rc=$?
    if [ "$rc" != "$want_rc" ] || [ "$out" != "$want" ]; then
        echo "plat-path $*: got [$out] rc $rc, want [$want] rc $want_rc" >&2
        fail=1
    fi
}
"$tool" 'C:\' >/dev/null # makes the machine
mkdir -p "$PLAT_ROOT/drive_c/Program Files/Папка"
check 0 "$PLAT_ROOT/drive_c/Program Files/Папка/New" 'c:\program files\ПАПКА\New'
check 0 "$PLAT_ROOT/drive_c" 'C:\'
check 0 "/usr/bin" 'Z:\usr\bin'
check 0 'C:\Program Files\Папка' -w "$PLAT_ROOT/drive_c/Program Files/Папка"
check 0 'Z:\tmp\x' -w /tmp/x
check 0 "$(printf '%s\n%s' 'Z:\a' 'Z:\b')" -w /a /b
check 1 "" 'Q:\x'
check 1 "" 'C:\missing\x'
check 1 "" 'C:\a*b'
check 1 "" -w /tmp/中
check 2 "" -x
check 2 ""
exit $fail
