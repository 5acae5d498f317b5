#!/usr/bin/env bash
# wine-single-run.sh BUILD - one installer or uninstaller at a time under Wine, with a Windows build's
# programs (BUILD/medium) in a fresh copy of the template prefix (KAL_WINE_TEMPLATE), driven by
# BUILD/bin/wizdrive.exe. While one runs on its first page (wizdrive --leave), a second Setup.exe or
# Uninst.exe says in one message box that the installation or removal is already running, ends with exit code
# 1618 and changes nothing (the registry under HKLM\Software, Program Files and the user's folders, read with
# the Linux build's machinedump). Once the first is killed, the next runs and shows its wizard: the installer
# is killed as a Linux process (SIGKILL to its Wine process), the uninstaller with taskkill /f. Last, after
# an installation, the installed uninstaller's copy in the temporary folder holds the rule once its starter
# has ended. Exit code 0 when every check held.
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
host=$root/build/linux
if [ ! -x "$host/bin/machinedump" ]; then
    [ -f "$host/build.ninja" ] || (cd "$root" && cmake --preset linux >/dev/null)
    cmake --build "$host" --target machinedump >/dev/null || exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/kalsinglew.XXXXXX")
mkdir -p "$work/home"
cp -a "${KAL_WINE_TEMPLATE:?KAL_WINE_TEMPLATE names the template made by wine-prefix.sh}/prefix" "$work/prefix"
export HOME=$work/home WINEPREFIX=$work/prefix
. "$here/wine-env.sh"
unset DISPLAY
user=$(id -un)
cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
cp "$build/bin/wizdrive.exe" "$work/"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# One session for the whole run, as one start of the machine.
"$WINESERVER" -p
"$WINE64" reg query 'HKLM\Software' >/dev/null 2>&1 </dev/null

setup="Z:$(echo "$build/medium/Setup.exe" | tr / '\\')"
uninst="Z:$(echo "$build/medium/Uninst.exe" | tr / '\\')"
busy_setup="Установка или удаление приложения Kalmorist 6.1 уже выполняется. Дождитесь её окончания и запустите установку снова."
busy_uninst="Установка или удаление приложения Kalmorist 6.1 уже выполняется. Дождитесь её окончания и запустите удаление снова."

state() {
    rm -f "$work/reg.reg"
    "$WINE64" reg export 'HKLM\Software' "Z:$(echo "$work/reg.reg" | tr / '\\')" /y >/dev/null 2>&1 </dev/null
    iconv -f UTF-16 -t UTF-8 "$work/reg.reg" 2>/dev/null | tr -d '\r' | LC_ALL=C sort
    PLAT_ROOT=$WINEPREFIX "$host/bin/machinedump" --no-hash 'C:\Program Files' "C:\\users\\$user" |
        awk '$1 == "F" {$6 = ""} {print}'
}

# drive NAME ARG...: wizdrive with the arguments; its output in $work/NAME.out, its exit code in $rc.
drive() {
    local name=$1
    shift
    (cd "$work" && timeout 60 "$WINE" wizdrive.exe --timeout 20 "$@" >"$work/$name.crlf" 2>&1 </dev/null)
    rc=$?
    tr -d '\r' <"$work/$name.crlf" >"$work/$name.out"
}

# The Linux process id of the prefix's Wine process running the program named (Setup.exe, Uninst.exe).
wine_pid() {
    local pid
    for pid in $(pgrep -f "$1" 2>/dev/null); do
        tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
        case $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) in *wizdrive*) continue ;; esac
        echo "$pid"
        return 0
    done
    return 1
}

# hold PROGRAM: starts it and leaves it on its first page.
hold() {
    drive held --leave "$1"
    [ $rc = 0 ] && grep -q '^--- left' "$work/held.out" || fail "$1 was not left on its first page: $(cat "$work/held.out")"
}

# refused NAME PROGRAM TEXT: a second program says TEXT in its one message and ends with 1618 (unchanged
# checks that the machine is as before the refusals: each registry export starts a Wine program).
refused() {
    local name=$1 program=$2 text=$3
    drive "$name" --message "$program"
    grep -qx -- "--- exit 1618" "$work/$name.out" || fail "$name: no exit code 1618 (the driver's: $rc): $(cat "$work/$name.out")"
    grep -qF "$text" "$work/$name.out" || fail "$name: no message \"$text\": $(cat "$work/$name.out")"
}

# unchanged WHAT: the machine is as state wrote it to $work/before.
unchanged() {
    state >"$work/after"
    diff -u "$work/before" "$work/after" >"$work/diff" || { fail "$1: the machine changed:"; head -20 "$work/diff"; }
}

# runs NAME PROGRAM: the program shows its wizard (Cancel on the first page) and ends with exit code 0.
runs() {
    drive "$1" "$2" cancel
    [ $rc = 0 ] || fail "$1: exit code $rc: $(cat "$work/$1.out")"
}

hold "$setup"
state >"$work/before"
refused setup-during-setup "$setup" "$busy_setup"
refused uninst-during-setup "$uninst" "$busy_uninst"
unchanged "Setup.exe and Uninst.exe refused while Setup.exe runs"
pid=$(wine_pid 'Setup.exe') || fail "no Wine process runs Setup.exe"
[ -n "$pid" ] && kill -9 "$pid"
while [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
runs setup-after-kill "$setup"

hold "$uninst"
state >"$work/before"
refused setup-during-uninst "$setup" "$busy_setup"
refused uninst-during-uninst "$uninst" "$busy_uninst"
unchanged "Setup.exe and Uninst.exe refused while Uninst.exe runs"
"$WINE64" taskkill /f /im Uninst.exe >/dev/null 2>&1 </dev/null || fail "taskkill /f /im Uninst.exe failed"
wine_pid 'Uninst.exe' >/dev/null && sleep 0.5
runs uninst-after-taskkill "$uninst"

# The installed uninstaller hands its work to its copy in the temporary folder and ends: the copy holds the
# rule from its start (the handle it inherited), after its starter has ended.
drive install "$setup" next cancel
grep -q 'Установка успешно завершена' "$work/install.out" || fail "the installation did not succeed: $(cat "$work/install.out")"
installed='C:\Program Files\Kalmor61\Uninst.exe'
drive held --follow --leave "$installed"
[ $rc = 0 ] && grep -q '^--- left' "$work/held.out" || fail "the installed uninstaller's copy was not left on its page: $(cat "$work/held.out")"
wine_pid 'Kalmor61-Uninst-' >/dev/null || fail "no copy of the uninstaller runs"
state >"$work/before"
refused setup-during-copy "$setup" "$busy_setup"
refused uninst-during-copy "$installed" "$busy_uninst"
unchanged "Setup.exe and the installed Uninst.exe refused while the uninstaller's copy runs"

[ $failures = 0 ] && echo "wine-single-run: every check held"
exit $((failures > 0))
