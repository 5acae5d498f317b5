#!/usr/bin/env bash
# responsive.sh linux BUILD - the window stays responsive while the steps run, with their progress shown: the
# installer over a package read slowly, then the uninstaller deleting slowly (about 10 s each), each with a
# watcher thread (responsive.cpp, BUILD/bin/responsive_setup and responsive_uninst), on a fresh machine
# folder. Each run must end with its usual report; its watcher must have had every answer within 1 s, seen
# the final page's text change at least five times, and tried to close the window while the steps ran.
# The slowness is the platform's switch PLAT_FAULT_SLOW (docs/testing.md).
set -uo pipefail
[ "${1:-}" = linux ] || { echo "usage: responsive.sh linux BUILD" >&2; exit 2; }
build=$(cd "${2:?build folder}" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/kalresp.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cp -a "$build/medium" "$WORK/medium"
cp "$build/bin/responsive_setup" "$build/bin/responsive_uninst" "$WORK/medium/"
export PLAT_ROOT=$WORK/machine PLAT_UI=script
"$build/bin/plat-reg" query 'HKLM\Software' >/dev/null 2>&1 # makes the machine
failed=0

# run NAME SLOW SCRIPT REPORT: runs NAME from the medium with PLAT_FAULT_SLOW=SLOW and the script, and checks
# its transcript's report and its watcher's line.
run() {
    local name=$1 slow=$2 script=$3 report=$4 start took line
    start=$(date +%s%N)
    PLAT_FAULT_SLOW=$slow PLAT_SCRIPT=$script timeout 40 "$WORK/medium/$name" >"$WORK/$name.out" 2>"$WORK/$name.err"
    local rc=$?
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
    [ "$(tail -n 1 "$WORK/$name.out")" = "--- cancel" ] || why+=("the transcript does not end with the Close button")
    if [ ${#why[@]} -gt 0 ]; then
        printf '%s: FAILED: %s\n' "$name" "$(printf '%s; ' "${why[@]}")"
        sed 's/^/    /' "$WORK/$name.out" "$WORK/$name.err" | tail -n 20
        failed=1
    fi
}

run responsive_setup "LZRead:100" "next cancel" "Установка успешно завершена"
[ -d "$PLAT_ROOT/drive_c/Program Files/Kalmor61" ] || { echo "the installation made no application folder"; failed=1; }
run responsive_uninst "DeleteFileA:200;RemoveDirectoryA:200" "next check next cancel" "Удаление успешно завершено"
[ ! -e "$PLAT_ROOT/drive_c/Program Files/Kalmor61" ] || { echo "the uninstallation left the application folder"; failed=1; }
exit $failed
