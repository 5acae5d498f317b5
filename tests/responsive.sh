#!/usr/bin/env bash
# responsive.sh linux|wine BUILD [install|uninstall] - the window stays responsive while the steps run, with their progress shown:
# the installer over a package read slowly, and the uninstaller deleting slowly (about 10 s each; one of them
# when named, after an installation at full speed for the uninstaller), on a fresh machine. Each run must end with its usual report; its watcher must have had every answer within 1 s, seen
# the final page's text change at least five times, and tried to close the window while the steps ran.
#   linux: the programs with a watcher thread (responsive.cpp, BUILD/bin/responsive_setup and
#          responsive_uninst) on a fresh machine folder, slowed by the platform's switch PLAT_FAULT_SLOW
#          (docs/testing.md);
#   wine:  BUILD/medium's Setup.exe and Uninst.exe in a fresh copy of the template prefix (KAL_WINE_TEMPLATE),
#          driven and watched by BUILD/bin/wizdrive.exe --watch, slowed by a shim of the host's C library
#          (slowhost.c, built here with cc) that delays the reads of Install.pkg and the looks at the
#          application folder's paths.
set -uo pipefail
column=${1:-}
part=${3:-both}
case $column/$part in linux/* | wine/*) ;; *) echo "usage: responsive.sh linux|wine BUILD [install|uninstall]" >&2 && exit 2 ;; esac
build=$(cd "${2:?build folder}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/kalresp.XXXXXX")
cp -a "$build/medium" "$WORK/medium"
if [ "$column" = linux ]; then
    trap 'rm -rf "$WORK"' EXIT
    cp "$build/bin/responsive_setup" "$build/bin/responsive_uninst" "$WORK/medium/"
    export PLAT_ROOT=$WORK/machine PLAT_UI=script
    "$build/bin/plat-reg" query 'HKLM\Software' >/dev/null 2>&1 # makes the machine
    APPDIR="$PLAT_ROOT/drive_c/Program Files/Kalmor61"
else
    . "$here/wine-env.sh"
    cp -a "${KAL_WINE_TEMPLATE:?}/prefix" "$WORK/prefix"
    mkdir -p "$WORK/home"
    export HOME=$WORK/home WINEPREFIX=$WORK/prefix
    unset DISPLAY
    trap '"$WINESERVER" -k >/dev/null 2>&1; "$WINESERVER" -w >/dev/null 2>&1; rm -rf "$WORK"' EXIT
    cc -shared -fPIC -O2 -o "$WORK/slowhost.so" "$here/slowhost.c" -ldl || { echo "cannot build the shim"; exit 1; }
    cp "$build/bin/wizdrive.exe" "$WORK/wizdrive.exe"
    "$WINESERVER" -p
    "$WINE64" reg query 'HKLM\Software' >/dev/null 2>&1 </dev/null # starts the session's services
    MEDIUMW="Z:$(echo "$WORK/medium" | tr / '\\')"
    APPDIR="$WINEPREFIX/drive_c/Program Files/Kalmor61"
fi
failed=0

# run NAME SLOW ACTIONS REPORT: runs NAME from the medium with the slowness SLOW (linux: PLAT_FAULT_SLOW;
# wine: the shim's variables, "VAR=VALUE ...") and the actions, and checks its report and its watcher's line.
run() {
    local name=$1 slow=$2 script=$3 report=$4 start took line rc
    start=$(date +%s%N)
    if [ "$column" = linux ]; then
        PLAT_FAULT_SLOW=$slow PLAT_SCRIPT=$script timeout 40 "$WORK/medium/$name" >"$WORK/$name.out" 2>"$WORK/$name.err"
        rc=$?
    else
        # shellcheck disable=SC2086
        (cd "$WORK" && env LD_PRELOAD="$WORK/slowhost.so" $slow timeout 60 "$WINE" wizdrive.exe --watch \
            "$MEDIUMW\\$name" $script) 2>"$WORK/$name.err" | tr -d '\r' >"$WORK/$name.out"
        rc=${PIPESTATUS[0]}
        sed -i 's/\r$//' "$WORK/$name.err"
    fi
    took=$((($(date +%s%N) - start) / 1000000))
    line=$(grep '^watch: ' "$WORK/$name.err")
    echo "$name: exit $rc, $took ms; $line"
    local polls late slowest texts closes
    read -r polls late slowest texts closes < <(echo "$line" |
        sed -n 's/^watch: polls=\([0-9]*\) late=\([0-9]*\) slowest=\([0-9]*\) texts=\([0-9]*\) closes=\([0-9]*\)$/\1 \2 \3 \4 \5/p')
    local why=()
    [ "$rc" -eq 0 ] || why+=("exit code $rc")
    [ -n "${polls:-}" ] || why+=("no watcher line")
    if [ -n "${polls:-}" ]; then
        [ "$polls" -ge 20 ] || why+=("only $polls answers asked for")
        [ "$late" -eq 0 ] || why+=("$late answers not given within 1 s")
        [ "$slowest" -lt 1000 ] || why+=("an answer took $slowest ms")
        [ "$texts" -ge 5 ] || why+=("the final page's text changed only $texts times")
        [ "$closes" -gt 0 ] || why+=("no attempt to close the window was made")
    fi
    # The report is on the final page when the steps end: the window was not closed meanwhile.
    grep -q "$report" "$WORK/$name.out" || why+=("no report \"$report\"")
    local last="--- cancel"
    [ "$column" = wine ] && last="--- exit 0"
    [ "$(tail -n 1 "$WORK/$name.out")" = "$last" ] || why+=("the transcript does not end with \"$last\"")
    if [ ${#why[@]} -gt 0 ]; then
        printf '%s: FAILED: %s\n' "$name" "$(printf '%s; ' "${why[@]}")"
        sed 's/^/    /' "$WORK/$name.out" "$WORK/$name.err" | tail -n 20
        failed=1
    fi
}

if [ "$part" = uninstall ]; then # installed at full speed, not watched
    if [ "$column" = linux ]; then
        PLAT_SCRIPT="next cancel" timeout 40 "$WORK/medium/responsive_setup" >/dev/null 2>&1
    else
        (cd "$WORK" && timeout 60 "$WINE" wizdrive.exe "$MEDIUMW\\Setup.exe" next cancel) >/dev/null 2>&1
    fi
elif [ "$column" = linux ]; then
    run responsive_setup "LZRead:100" "next cancel" "Установка успешно завершена"
else
    run Setup.exe "SLOWHOST_READ=Install.pkg:100" "next cancel" "Установка успешно завершена"
fi
[ -d "$APPDIR" ] || { echo "the installation made no application folder"; failed=1; }
[ "$part" = install ] && exit $failed
if [ "$column" = linux ]; then
    run responsive_uninst "DeleteFileA:200;RemoveDirectoryA:200" "next check next cancel" "Удаление успешно завершено"
else
    run Uninst.exe "SLOWHOST_STAT=Kalmor61:20" "next check next cancel" "Удаление успешно завершено"
fi
[ ! -e "$APPDIR" ] || { echo "the uninstallation left the application folder"; failed=1; }
exit $failed
