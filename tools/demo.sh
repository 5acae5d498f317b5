#!/usr/bin/env bash
# demo.sh - runs the installer from the demo medium (build/linux/medium) against a fresh demo machine
# (demo/machine): the GUI when there is a display, the text front end in a terminal, the scripted run when
# PLAT_SCRIPT holds the user's actions (e.g. PLAT_SCRIPT="next cancel" make demo).
set -uo pipefail
cd "$(dirname "$0")/.."
cmake --build build/linux --target medium >/dev/null || exit 1
export PLAT_ROOT=$PWD/demo/machine
rm -rf "$PLAT_ROOT"
if [ -n "${PLAT_SCRIPT:-}" ] && [ -z "${PLAT_UI:-}" ]; then
    export PLAT_UI=script
fi
# Started with no display and no terminal (CI, an editor's task runner, ssh host make demo): nobody could
# answer the wizard, so the first installation runs scripted and says how to see the wizard itself.
if [ -z "${PLAT_UI:-}" ] && [ -z "${DISPLAY:-}" ] && [ ! -t 0 ]; then
    export PLAT_UI=script PLAT_SCRIPT="next cancel"
    cat <<EOT
No display and no terminal: the installer runs scripted (PLAT_SCRIPT="next cancel": Next, then Close).
To see the wizard, run make demo in a terminal (text front end) or with a display (DISPLAY set: the window).

EOT
fi
build/linux/medium/setup
rc=$?
cat <<EOT

The installer ended with exit code $rc. The demo machine is $PLAT_ROOT; to look at what was installed:
  PLAT_ROOT=$PLAT_ROOT build/linux/bin/plat-reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalmor61'
  ls -lR "$PLAT_ROOT/drive_c/Program Files/Kalmor61"
  lnkinfo -c windows-1251 "$PLAT_ROOT/drive_c/users/$(id -un)/Desktop/Kalmorist 6.1.lnk"
To uninstall it, run the installed uninstaller on the same machine (it works from a copy of itself in the
machine's temporary folder, which goes when the machine next starts: plat-boot):
  PLAT_ROOT=$PLAT_ROOT "$PLAT_ROOT/drive_c/Program Files/Kalmor61/Uninst.exe"
  PLAT_ROOT=$PLAT_ROOT build/linux/bin/plat-boot
EOT
exit $rc
