#!/usr/bin/env bash
# single-run.sh BUILD - one installer or uninstaller at a time, with the Linux build's programs (BUILD/medium,
# the tools from BUILD/bin) on a fresh machine folder: while one runs (held on its first page by the text
# front end reading a pipe nobody writes), a second Setup or Uninst says in one message that the
# installation or removal is already running, ends with exit code 82 (1618, the platform's "another
# installation is already in progress", as the host keeps it: modulo 256) and changes nothing: the machine
# (the program-files folder, the user's folders, the registry under HKLM\Software) is the same before and
# after. Once the first is killed (SIGKILL), the next runs normally. The held uninstaller is the installed
# one, which works from its copy in the temporary folder: the copy holds the rule after its starter ended.
# Exit code 0 when every check held.
set -uo pipefail

build=$(cd "${1:?build folder}" && pwd)
user=$(id -un)
work=$(mktemp -d "${TMPDIR:-/tmp}/kalsingle.XXXXXX")
export PLAT_ROOT=$work/machine
unset DISPLAY
failures=0
holder=""

cleanup() {
    [ -n "$holder" ] && kill -9 "$holder" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The machine as the rule protects it: the uninstall area and the files (sizes, write times, attributes).
state() {
    rm -f "$work/reg.reg"
    "$build/bin/plat-reg" export 'HKLM\Software' "$work/reg.reg" /y >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$work/reg.reg" 2>/dev/null | tr -d '\r'
    "$build/bin/machinedump" --no-hash 'C:\Program Files' "C:\\users\\$user" | awk '$1 == "F" {$6 = ""} {print}'
}

# run NAME PROGRAM ACTION...: runs a program with the script front end; its transcript in $work/NAME.out, its
# exit code in $rc.
run() {
    local name=$1 program=$2
    shift 2
    # Through a pipe, which ends when every process holding it has: the uninstaller's copy too.
    PLAT_UI=script PLAT_SCRIPT="$*" timeout 60 "$program" 2>&1 | cat >"$work/$name.out"
    rc=${PIPESTATUS[0]}
}

# hold PROGRAM: starts the program with the text front end on a pipe that stays open and empty, and waits
# (at most 20 s) until its first page is shown. $holder is the process that shows it: the program, or, for
# the installed uninstaller, its copy in the temporary folder.
hold() {
    local program=$1 copy=${2:-}
    rm -f "$work/in" && mkfifo "$work/in"
    exec 9<>"$work/in"
    # Started from a subshell, so that it is no job of this shell's (its kill is then not announced).
    (PLAT_UI=text "$program" <&9 >"$work/held.out" 2>&1 & echo $! >"$work/held.pid")
    holder=$(cat "$work/held.pid")
    local end=$((SECONDS + 20))
    until grep -q '^===' "$work/held.out" 2>/dev/null; do
        [ $SECONDS -lt $end ] || { fail "$program shows no page: $(cat "$work/held.out")"; return 1; }
        sleep 0.05
    done
    if grep -q 'уже выполняется' "$work/held.out"; then
        fail "$program was refused: $(cat "$work/held.out")"
        return 1
    fi
    if [ -n "$copy" ]; then
        # The starter has ended; the page is its copy's.
        while kill -0 "$holder" 2>/dev/null; do sleep 0.05; done
        holder=$(for p in /proc/[0-9]*; do
            case $(readlink "$p/exe" 2>/dev/null) in */Kalmor61-Uninst-*.exe) echo "${p#/proc/}" ;; esac
        done | head -1)
        [ -n "$holder" ] || { fail "no copy of the uninstaller runs"; return 1; }
    fi
}

# kill_holder: ends the held program with SIGKILL, as the user's task manager would.
kill_holder() {
    kill -9 "$holder"
    while kill -0 "$holder" 2>/dev/null; do sleep 0.05; done
    holder=""
    exec 9>&-
}

# refused NAME PROGRAM TEXT: a second program, started while the first is held, says TEXT in a message box
# and nothing else, ends with exit code 82 and changes nothing.
refused() {
    local name=$1 program=$2 text=$3
    state >"$work/before"
    run "$name" "$program" next next next cancel
    state >"$work/after"
    [ $rc = 82 ] || fail "$name: exit code $rc, not 82"
    grep -qF "$text" "$work/$name.out" || fail "$name: no message \"$text\": $(cat "$work/$name.out")"
    [ "$(grep -c '^===' "$work/$name.out")" = 1 ] || fail "$name: more than the one message: $(cat "$work/$name.out")"
    diff -u "$work/before" "$work/after" >"$work/diff" || { fail "$name: the machine changed:"; head -20 "$work/diff"; }
}

setup=$build/medium/setup
medium_uninst=$build/medium/Uninst.exe
installed_uninst=$PLAT_ROOT/drive_c/Program\ Files/Kalmor61/Uninst.exe
busy_setup="Установка или удаление приложения Kalmorist 6.1 уже выполняется. Дождитесь её окончания и запустите установку снова."
busy_uninst="Установка или удаление приложения Kalmorist 6.1 уже выполняется. Дождитесь её окончания и запустите удаление снова."

"$build/bin/plat-reg" query 'HKLM\Software' >/dev/null 2>&1 # makes the machine

# An installer on its first page: a second installer and the medium's uninstaller are refused.
hold "$setup"
refused setup-during-setup "$setup" "$busy_setup"
refused uninst-during-setup "$medium_uninst" "$busy_uninst"
# Killed, it lets the next one run: an installation.
kill_holder
run install "$setup" next cancel
[ $rc = 0 ] || fail "install after the killed installer: exit code $rc: $(tail -5 "$work/install.out")"
grep -q 'Установка успешно завершена' "$work/install.out" || fail "install after the killed installer did not succeed: $(tail -8 "$work/install.out")"
[ -f "$installed_uninst" ] || fail "no installed uninstaller"

# The installed uninstaller, working from its copy: a second uninstaller (the installed one, which would
# start a copy of its own) and an installer are refused.
hold "$installed_uninst" copy
refused uninst-during-uninst "$installed_uninst" "$busy_uninst"
refused setup-during-uninst "$setup" "$busy_setup"
# Killed, the copy lets the next one run: a removal.
kill_holder
run uninstall "$installed_uninst" next next cancel
[ $rc = 0 ] || fail "uninstall after the killed copy: exit code $rc"
grep -q 'Удаление успешно завершено' "$work/uninstall.out" || fail "uninstall after the killed copy: $(tail -8 "$work/uninstall.out")"
"$build/bin/plat-reg" query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kalmor61' >/dev/null 2>&1 &&
    fail "the uninstall entry is still there after the removal: $(tail -8 "$work/uninstall.out")"

[ $failures = 0 ] && echo "single-run: every check held"
exit $((failures > 0))
