#!/usr/bin/env bash
# unnameable.sh BUILD - a medium copied into a folder with a Cyrillic name, on the Linux build: on a Western
# machine (PLAT_ACP=1252), whose code page cannot name that folder, the installer and the uninstaller each say
# so in one message and change nothing on the machine; on a Russian one (code page 1251) the same medium
# installs. BUILD is a linux build folder with its medium.
set -uo pipefail
build=$(cd "${1:?linux build folder}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kalunnamed.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
fail() {
    echo "FAILED: $*"
    status=1
}

export PLAT_ROOT=$work/machine PLAT_UI=script
"$build/bin/plat-reg" query 'HKLM\Software' >/dev/null 2>&1 # makes the machine
medium=$work/Дистрибутив
cp -a "$build/medium" "$medium"

# The machine as far as a program could change it: the files of drive C: and the registry.
state() {
    find "$PLAT_ROOT/drive_c" -printf '%P %y %s %T@\n' | LC_ALL=C sort
    "$build/bin/plat-reg" query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>&1
}

# run PROGRAM TEXT: on the Western machine the program shows TEXT in a message box and changes nothing.
run() {
    local program=$1 text=$2
    state >"$work/before"
    PLAT_ACP=1252 PLAT_SCRIPT="next next cancel" timeout 60 "$medium/$program" >"$work/out" 2>&1
    local rc=$?
    state >"$work/after"
    sed 's/^/  | /' "$work/out"
    [ $rc = 0 ] || fail "$program ended with exit code $rc"
    grep -qF "$text" "$work/out" || fail "$program did not say: $text"
    grep -q '^=== .* ===$' "$work/out" && [ "$(grep -c '^=== ' "$work/out")" = 1 ] ||
        fail "$program showed more than its one message"
    diff -u "$work/before" "$work/after" || fail "$program changed the machine"
}

run setup "$("$build/bin/restext" 1030 | head -1)"
run Uninst.exe "Удаление приложения нельзя провести"

# Where the code page names the folder, the same medium installs.
PLAT_SCRIPT="next cancel" timeout 60 "$medium/setup" >"$work/out" 2>&1
grep -qF "$("$build/bin/restext" 1050 | sed -n 2p)" "$work/out" || fail "the installation from $medium did not complete"
[ -d "$PLAT_ROOT/drive_c/Program Files/Kalmor61" ] || fail "nothing was installed from $medium"
[ $status = 0 ] && echo "the unnameable medium changed nothing; the nameable one installed"
exit $status
