#!/usr/bin/env bash
# pe-static.sh MEDIUM 32|64 [REFERENCE] - the checks of a medium's Windows programs that need no Windows and
# no 32-bit host: Setup.exe and Uninst.exe are PE32 for i386 (32) or PE32+ for x86_64 (64), GUI programs,
# importing only the system DLLs of tests/data/system-dlls.txt (so no MinGW runtime DLL: they are linked
# statically), with their resources (the dialog, the string tables, the welcome bitmap, the icon); the
# application manifest asks for the administrator, names Windows 7, 8, 8.1 and 10/11, declares the programs
# aware of the system's DPI and depends on Common Controls 6; the version resource reads back as res/version.h writes it; the icon has images of 16, 32, 48
# and 256 pixels in 32-bit colour. With REFERENCE (another build's medium), the string tables, the manifest, the
# version resource and the icon are byte for byte those of REFERENCE's programs.
# pe-static.sh --self-test MEDIUM REFERENCE - the checks against spoilt copies of the 32-bit MEDIUM: the
# 64-bit Setup.exe of REFERENCE put in its place, a DLL it imports taken off the list, one byte of a string
# changed, the manifest, the version resource or the icon taken out, each setting of the manifest changed, a
# version string changed, the icon's largest image dropped. Each must be refused.
# The reader is tests/pecheck.cpp, a Linux program of the linux build (built here if need be); the manifest
# is read with xmllint.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
pecheck=$root/build/linux/bin/pecheck
if [ ! -x "$pecheck" ]; then
    [ -f "$root/build/linux/build.ninja" ] || (cd "$root" && cmake --preset linux >/dev/null)
    cmake --build "$root/build/linux" --target pecheck >/dev/null || exit 1
fi
DLLS=${KAL_SYSTEM_DLLS:-$here/data/system-dlls.txt}
VERSION_H=$root/res/version.h
work=$(mktemp -d "${TMPDIR:-/tmp}/kalpe.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The supportedOS identifiers of the manifest.
SUPPORTED_OS="35138b9a-5d96-4fbd-8e2d-a2440225f93a=Windows-7 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38=Windows-8
    1f676c76-80e1-4239-95bb-83d0f6d0da78=Windows-8.1 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a=Windows-10/11"

# define NAME: a string of res/version.h.
define() { sed -n "s/^#define $1 \"\(.*\)\".*/\1/p" "$VERSION_H"; }

# check_manifest EXE: the application manifest's settings, each where Windows reads it (its namespace).
check_manifest() {
    local exe=$1 xml bad=0 pair id
    if ! xml=$("$pecheck" dump "$exe" 24 1 2>/dev/null) || [ -z "$xml" ]; then
        echo "FAIL $exe: no application manifest (resource 24, 1)"
        return 1
    fi
    if ! xmllint --noout - <<<"$xml" 2>/dev/null; then
        echo "FAIL $exe: the manifest is not well-formed XML"
        return 1
    fi
    xp() { xmllint --xpath "$1" - <<<"$xml" 2>/dev/null; }
    local asm=urn:schemas-microsoft-com:asm.v1 v3=urn:schemas-microsoft-com:asm.v3
    local level
    level=$(xp "string(/*[local-name()='assembly' and namespace-uri()='$asm']/*[local-name()='trustInfo' and namespace-uri()='$v3']//*[local-name()='requestedExecutionLevel']/@level)")
    [ "$level" = requireAdministrator ] ||
        { echo "FAIL $exe: the manifest asks for the execution level '$level', not requireAdministrator"; bad=1; }
    for pair in $SUPPORTED_OS; do
        id=${pair%%=*}
        [ "$(xp "count(//*[local-name()='compatibility' and namespace-uri()='urn:schemas-microsoft-com:compatibility.v1']/*[local-name()='application']/*[local-name()='supportedOS'][translate(@Id, 'ABCDEF', 'abcdef')='{$id}'])")" = 1 ] ||
            { echo "FAIL $exe: the manifest does not name ${pair#*=} as supported ({$id})"; bad=1; }
    done
    [ "$(xp "normalize-space(/*/*[local-name()='application' and namespace-uri()='$v3']/*[local-name()='windowsSettings']/*[local-name()='dpiAware' and namespace-uri()='http://schemas.microsoft.com/SMI/2005/WindowsSettings'])")" = true ] ||
        { echo "FAIL $exe: the manifest does not declare the programs aware of the system's DPI (dpiAware true)"; bad=1; }
    [ "$(xp "count(//*[local-name()='dependency']/*[local-name()='dependentAssembly']/*[local-name()='assemblyIdentity'][@type='win32'][@name='Microsoft.Windows.Common-Controls'][@version='6.0.0.0'][@publicKeyToken='6595b64144ccf1df'])")" = 1 ] ||
        { echo "FAIL $exe: the manifest does not depend on Common Controls 6.0.0.0"; bad=1; }
    return $bad
}

# check_version EXE: the version resource, as res/version.h writes it for this program.
check_version() {
    local exe=$1 name desc version have
    case ${exe##*/} in
    Setup.exe) name=$(define KAL_SETUP_NAME) desc=$(define KAL_SETUP_DESCRIPTION) ;;
    *) name=$(define KAL_UNINST_NAME) desc=$(define KAL_UNINST_DESCRIPTION) ;;
    esac
    version=$(define KAL_VERSION_TEXT)
    if ! have=$("$pecheck" version "$exe" 2>&1); then
        echo "FAIL $exe: $have"
        return 1
    fi
    {
        echo "fileversion $version"
        echo "productversion $version"
        echo "string 041904B0 FileDescription $desc"
        echo "string 041904B0 FileVersion $version"
        echo "string 041904B0 InternalName $name"
        echo "string 041904B0 OriginalFilename $name.exe"
        echo "string 041904B0 ProductName $(define KAL_PRODUCT_NAME)"
        echo "string 041904B0 ProductVersion $version"
        echo "translation 0419 1200"
    } >"$work/version.want"
    if ! diff "$work/version.want" - <<<"$have" >"$work/version.diff"; then
        echo "FAIL $exe: the version resource does not read back as written: $(grep '^[<>]' "$work/version.diff" | tr '\n' ' ')"
        return 1
    fi
}

# check_icon EXE: one icon, of 16, 32, 48 and 256 pixels in 32-bit colour.
check_icon() {
    local exe=$1 have
    if ! have=$("$pecheck" icons "$exe" 2>&1); then
        echo "FAIL $exe: $have"
        return 1
    fi
    have=$(awk '{print $4 "/" $5}' <<<"$have" | sort -n | tr '\n' ' ')
    [ "$have" = "16x16/32 32x32/32 48x48/32 256x256/32 " ] ||
        { echo "FAIL $exe: icon images $have(WIDTHxHEIGHT/BITS), not 16, 32, 48 and 256 pixels in 32 bits"; return 1; }
}

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
    check_manifest "$exe" || bad=1
    check_version "$exe" || bad=1
    check_icon "$exe" || bad=1
    if [ -n "$ref" ]; then
        local mine theirs name type what
        for type in 6 24 16 14 3; do
            case $type in 6) what="string table" ;; 24) what=manifest ;; 16) what="version resource" ;; *) what="icon resource" ;; esac
            mine=$(awk -v t=$type '$1 == "resource" && $2 == t {print $3}' <<<"$info" | sort -n)
            theirs=$("$pecheck" info "$ref" | awk -v t=$type '$1 == "resource" && $2 == t {print $3}' | sort -n)
            if [ "$mine" != "$theirs" ]; then
                echo "FAIL $exe: ${what}s $(echo $mine) where $ref has $(echo $theirs)"
                bad=1
            fi
            for name in $mine; do
                cmp -s <("$pecheck" dump "$exe" $type "$name") <("$pecheck" dump "$ref" $type "$name") ||
                    { echo "FAIL $exe: $what $name differs from $ref's"; bad=1; }
            done
        done
    fi
    [ $bad = 0 ] && echo "ok   $exe: $want_format $want_machine GUI, imports $(sed -n 's/^import //p' <<<"$info" | tr '\n' ' ')manifest, version $(define KAL_VERSION_TEXT), icon 16-256"
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
    # The manifest, the version resource and the icon: each taken out (its type renumbered, so nothing finds
    # it), and each setting changed in place (FROM, a Perl pattern, becomes TO, of the same length, inside the
    # resource).
    copy_of() { # NAME: a copy of the medium in work/NAME
        mkdir -p "$work/$1" && cp "$medium/Setup.exe" "$medium/Uninst.exe" "$work/$1/"
    }
    retyped() { # NAME TYPE NEWTYPE
        copy_of "$1" && "$pecheck" retype "$work/$1/Setup.exe" "$2" "$3"
    }
    replaced() { # NAME TYPE RESNAME FROM TO
        local size offset
        copy_of "$1"
        read -r _ _ _ _ size offset < <("$pecheck" info "$work/$1/Setup.exe" | awk -v t="$2" -v n="$3" '$2 == t && $3 == n')
        FROM=$4 TO=$5 perl -0777 -i -pe 'my ($from, $to) = map { s/\\x([0-9a-f]{2})/chr(hex($1))/ger } @ENV{qw(FROM TO)};
            die "not the same length\n" if length($from) != length($to);
            substr($_, '"$offset, $size"') =~ s/\Q$from\E/$to/ or die "no match\n"' "$work/$1/Setup.exe"
    }
    retyped no-manifest 24 25
    spoilt "the manifest taken out" "no application manifest" check_program "$work/no-manifest/Setup.exe" 32
    replaced as-invoker 24 1 'level="requireAdministrator"' 'level="asInvoker"           '
    spoilt "the execution level asInvoker" "not requireAdministrator" check_program "$work/as-invoker/Setup.exe" 32
    replaced no-8.1 24 1 '{1f676c76-' '{1f676c77-'
    spoilt "Windows 8.1 not named" "does not name Windows-8.1" check_program "$work/no-8.1/Setup.exe" 32
    replaced dpi-unaware 24 1 'WindowsSettings">true<' 'WindowsSettings">nope<'
    spoilt "dpiAware not true" "not declare the programs aware of the system's DPI" check_program "$work/dpi-unaware/Setup.exe" 32
    replaced controls-5 24 1 'Common-Controls" version="6.0.0.0"' 'Common-Controls" version="5.0.0.0"'
    spoilt "Common Controls 5" "does not depend on Common Controls 6" check_program "$work/controls-5/Setup.exe" 32
    retyped no-version 16 17
    spoilt "the version resource taken out" "no version resource" check_program "$work/no-version/Setup.exe" 32
    replaced version-string 16 1 'K\x00a\x00l\x00m\x00' 'X\x00a\x00l\x00m\x00'
    spoilt "a changed version string" "does not read back as written" check_program "$work/version-string/Setup.exe" 32
    retyped no-icon 14 15
    spoilt "the icon taken out" "no icon group" check_program "$work/no-icon/Setup.exe" 32
    replaced icon-three 14 1150 '\x00\x00\x01\x00\x04\x00' '\x00\x00\x01\x00\x03\x00'
    spoilt "the icon's 256-pixel image dropped" "not 16, 32, 48 and 256" check_program "$work/icon-three/Setup.exe" 32
    [ $failures = 0 ] || exit 1
    exit 0
fi

medium=${1:?medium} bits=${2:?32 or 64} ref=${3:-}
case $bits in 32 | 64) ;; *) echo "usage: $0 MEDIUM 32|64 [REFERENCE] | --self-test MEDIUM REFERENCE" >&2 && exit 2 ;; esac
check_medium "$medium" "$bits" "$ref"
