#!/usr/bin/env bash
# pe-static.sh MEDIUM 32|64 [REFERENCE] - the checks of a medium's Windows programs that need no Windows and
# no 32-bit host: Setup.exe and Uninst.exe are PE32 for i386 (32) or PE32+ for x86_64 (64), GUI programs,
# importing only the system DLLs of tests/data/system-dlls.txt (so no MinGW runtime DLL: they are linked
# statically), with their resources (the dialog, the string tables, the welcome bitmap, the icon); and, with
# REFERENCE (another build's medium), string tables byte for byte those of REFERENCE's programs.
# pe-static.sh --self-test MEDIUM REFERENCE - the checks against spoilt copies of the 32-bit MEDIUM: the
# 64-bit Setup.exe of REFERENCE put in its place, a DLL it imports taken off the list, one byte of a string
# changed. Each must be refused.
# The reader is tests/pecheck.cpp, a Linux program of the linux build (built here if need be).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
pecheck=$root/build/linux/bin/pecheck
if [ ! -x "$pecheck" ]; then
    [ -f "$root/build/linux/build.ninja" ] || (cd "$root" && cmake --preset linux >/dev/null)
    cmake --build "$root/build/linux" --target pecheck >/dev/null || exit 1
fi
DLLS=${KAL_SYSTEM_DLLS:-$here/data/system-dlls.txt}

# check_program EXE BITS [REFERENCE-EXE]: prints a line for each fault; its status is 0 when there is none.
check_program() {
    local exe=$1 bits=$2 ref=${3:-} info bad=0 want_format want_machine dll
    if ! info=$("$pecheck" info "$exe"); then
        echo "FAIL $exe: not readable as a Windows program"
        return 1
    fi
    want_format=PE32 want_machine=i386
    [ "$bits" = 64 ] && want_format=PE32+ want_machine=x86_64
    grep -qx "format $want_format" <<<"$info" || { echo "FAIL $exe: not $want_format ($(grep ^format <<<"$info"))"; bad=1; }
    grep -qx "machine $want_machine" <<<"$info" || { echo "FAIL $exe: not for $want_machine ($(grep ^machine <<<"$info"))"; bad=1; }
    grep -qx "subsystem gui" <<<"$info" || { echo "FAIL $exe: not a GUI program ($(grep ^subsystem <<<"$info"))"; bad=1; }
    for dll in $(sed -n 's/^import //p' <<<"$info"); do
        grep -v '^#' "$DLLS" | grep -qix "$dll" ||
            { echo "FAIL $exe: imports $dll, which is not on the list of system DLLs ($DLLS)"; bad=1; }
    done
    # The dialog 20000, the welcome bitmap 1100, an icon with its group, and string tables.
    local want
    for want in "5 20000" "2 1100" "14 " "3 " "6 "; do
        grep -q "^resource $want" <<<"$info" || { echo "FAIL $exe: no resource of type ${want% *}${want#* }"; bad=1; }
    done
    if [ -n "$ref" ]; then
        local mine theirs name
        mine=$(awk '$1 == "resource" && $2 == 6 {print $3}' <<<"$info" | sort -n)
        theirs=$("$pecheck" info "$ref" | awk '$1 == "resource" && $2 == 6 {print $3}' | sort -n)
        if [ "$mine" != "$theirs" ]; then
            echo "FAIL $exe: string tables $(echo $mine) where $ref has $(echo $theirs)"
            bad=1
        fi
        for name in $mine; do
            cmp -s <("$pecheck" dump "$exe" 6 "$name") <("$pecheck" dump "$ref" 6 "$name") ||
                { echo "FAIL $exe: string table $name differs from $ref's"; bad=1; }
        done
    fi
    [ $bad = 0 ] && echo "ok   $exe: $want_format $want_machine GUI, imports $(sed -n 's/^import //p' <<<"$info" | tr '\n' ' ')"
    return $bad
}

check_medium() { # MEDIUM BITS [REFERENCE]
    local bad=0 exe
    for exe in Setup.exe Uninst.exe; do
        check_program "$1/$exe" "$2" "${3:+$3/$exe}" || bad=1
    done
    return $bad
}

if [ "${1:-}" = --self-test ]; then
    medium=${2:?medium} ref=${3:?reference medium}
    work=$(mktemp -d "${TMPDIR:-/tmp}/kalpe.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    failures=0
    # spoilt NAME EXPECTED-MESSAGE COMMAND...: the check must fail, saying so.
    spoilt() {
        local name=$1 want=$2 out
        shift 2
        if out=$("$@" 2>&1); then
            echo "FAIL self-test: $name was not caught"
            failures=$((failures + 1))
        elif ! grep -q -- "$want" <<<"$out"; then
            echo "FAIL self-test: $name was refused, but not for the reason: $out"
            failures=$((failures + 1))
        else
            echo "ok   self-test: $name is caught: $(grep -m1 -- "$want" <<<"$out")"
        fi
    }
    # The 64-bit Setup.exe on the 32-bit medium.
    mkdir -p "$work/m64"
    cp "$medium/Uninst.exe" "$work/m64/" && cp "$ref/Setup.exe" "$work/m64/"
    spoilt "a 64-bit Setup.exe on the 32-bit medium" "not for i386" check_medium "$work/m64" 32
    # A DLL the installer imports taken off the list.
    first=$("$pecheck" info "$medium/Setup.exe" | sed -n 's/^import //p' | head -n 1)
    grep -vix "$first" "$DLLS" >"$work/dlls.txt"
    spoilt "an import ($first) not on the list" "imports $first" env KAL_SYSTEM_DLLS="$work/dlls.txt" \
        "$0" "$medium" 32
    # One byte of the installer's first string table changed.
    mkdir -p "$work/ms"
    cp "$medium/Setup.exe" "$medium/Uninst.exe" "$work/ms/"
    read -r _ _ name _ size offset < <("$pecheck" info "$work/ms/Setup.exe" | awk '$2 == 6' | head -n 1)
    at=$((offset + size - 2))
    byte=$(od -An -tu1 -j"$at" -N1 "$work/ms/Setup.exe" | tr -d ' ')
    printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$work/ms/Setup.exe" bs=1 seek="$at" conv=notrunc status=none
    spoilt "a changed string in string table $name" "string table $name differs" check_medium "$work/ms" 32 "$ref"
    [ $failures = 0 ] || exit 1
    exit 0
fi

medium=${1:?medium} bits=${2:?32 or 64} ref=${3:-}
case $bits in 32 | 64) ;; *) echo "usage: $0 MEDIUM 32|64 [REFERENCE] | --self-test MEDIUM REFERENCE" >&2 && exit 2 ;; esac
check_medium "$medium" "$bits" "$ref"
