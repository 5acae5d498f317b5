#!/usr/bin/env bash
# wine-manifest.sh BUILD - shows under Wine that the medium's programs (BUILD/medium) run with their
# application manifest. Setup.exe and Uninst.exe each start in a fresh copy of the template prefix
# (KAL_WINE_TEMPLATE) with WINEDEBUG=+actctx,+loaddll and are closed on their first page by the driver
# (BUILD/bin/wizdrive.exe); the trace of each program's own process must show its manifest found in the
# program (resource 24, 1), its dependency on Common Controls 6.0.0.0 taken, and comctl32.dll loaded from
# that assembly (winsxs) rather than from system32. Then the same runs on copies
# whose manifest was taken out (pecheck retype 24 25) must fail each of these. Wine's trace says nothing of
# requestedExecutionLevel and supportedOS, which Wine does not act on: tests/pe-static.sh reads those.
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
pecheck=$root/build/linux/bin/pecheck
if [ ! -x "$pecheck" ]; then
    [ -f "$root/build/linux/build.ninja" ] || (cd "$root" && cmake --preset linux >/dev/null)
    cmake --build "$root/build/linux" --target pecheck >/dev/null || exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/kalactx.XXXXXX")
mkdir -p "$work/home" "$work/spoilt"
cp -a "${KAL_WINE_TEMPLATE:?KAL_WINE_TEMPLATE names the template made by wine-prefix.sh}/prefix" "$work/prefix"
export HOME=$work/home WINEPREFIX=$work/prefix
. "$here/wine-env.sh"
unset DISPLAY
cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
cp "$build/bin/wizdrive.exe" "$work/"

# trace PROGRAM: runs it under the driver, Cancel on its first page; the trace of its process on stdout.
trace() {
    local win out=$work/trace.txt tid
    win="Z:$(echo "$1" | tr / '\\')"
    (cd "$work" && WINEDEBUG=+actctx,+loaddll timeout 120 "$WINE" wizdrive.exe "$win" cancel >"$work/drive.txt" 2>"$out")
    "$WINESERVER" -w >/dev/null 2>&1
    tid=$(grep -m1 "actctx:get_manifest_in_module looking for res #0001 in module .*\\\\${1##*/}\"" "$out" | cut -d: -f1)
    [ -n "$tid" ] && grep "^$tid:" "$out"
}

# check PROGRAM: prints a line for each setting the trace does not show; status 0 when it shows them all.
check() {
    local exe=$1 t bad=0
    t=$(trace "$exe")
    if [ -z "$t" ]; then
        echo "FAIL $exe: did not start under Wine ($(tr '\n' ' ' <"$work/drive.txt"))"
        return 1
    fi
    grep -A1 'get_manifest_in_module looking for res #0001' <<<"$t" | grep -q 'parse_manifest parsing manifest loaded from (null)' ||
        { echo "FAIL $exe: Wine found no manifest in the program"; bad=1; }
    grep -q 'parse_dependent_assembly_elem adding name=L"Microsoft.Windows.Common-Controls" version=6.0.0.0' <<<"$t" ||
        { echo "FAIL $exe: Wine took no dependency on Common Controls 6.0.0.0"; bad=1; }
    local dll
    dll=$(grep -io 'loaddll:build_module Loaded L"[^"]*comctl32.dll"' <<<"$t" | head -n 1)
    grep -qi 'winsxs\\\\[a-z0-9_]*microsoft.windows.common-controls_[0-9a-f]*_6\.' <<<"$dll" ||
        { echo "FAIL $exe: comctl32.dll came from ${dll#*Loaded }, not from the Common Controls 6 assembly"; bad=1; }
    [ $bad = 0 ] && echo "ok   $exe: Wine uses its manifest: Common Controls 6 (${dll#*Loaded })"
    return $bad
}

status=0
for exe in Setup.exe Uninst.exe; do
    check "$build/medium/$exe" || status=1
done
# Without the manifest every one of the checks must fail.
for exe in Setup.exe Uninst.exe; do
    cp "$build/medium/$exe" "$work/spoilt/$exe" && "$pecheck" retype "$work/spoilt/$exe" 24 25
    out=$(check "$work/spoilt/$exe")
    if [ "$(grep -c '^FAIL' <<<"$out")" = 3 ]; then
        echo "ok   self-test: $exe without its manifest is refused on all three counts"
    else
        echo "FAIL self-test: $exe without its manifest was not refused on all three counts:"
        echo "$out"
        status=1
    fi
done
exit $status
