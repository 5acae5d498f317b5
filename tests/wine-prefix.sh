#!/usr/bin/env bash
# wine-prefix.sh DIR - makes the template Wine prefix that every Windows test run copies: Russian locale,
# the null graphics driver (dialogs work without a display), and real user folders instead of the links
# to $HOME that a new prefix makes, so that a copy never writes outside itself.
set -euo pipefail
dir=$(realpath -m "$1")
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$dir"
mkdir -p "$dir/home"
export HOME=$dir/home WINEPREFIX=$dir/prefix
. "$here/wine-env.sh"
"$WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
"$WINESERVER" -w
find "$WINEPREFIX/drive_c/users" -type l | while read -r link; do
    rm -f "$link"
    mkdir -p "$link"
done
echo "template prefix ready in $dir"
