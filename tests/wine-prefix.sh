#!/usr/bin/env bash
# wine-prefix.sh DIR [win64|win32] - makes the template Wine prefix that every Windows test run copies: 64-bit
# Windows (the default, made by wine64) or 32-bit Windows (WINEARCH=win32, made by the 32-bit loader), with
# the Russian locale, the null graphics driver (dialogs work without a display), and real user folders
# instead of the links to $HOME that a new prefix makes, so that a copy never writes outside itself.
set -euo pipefail
dir=$(realpath -m "$1")
arch=${2:-win64}
case $arch in
win64 | win32) ;;
*) echo "usage: $0 DIR [win64|win32]" >&2 && exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$dir"
mkdir -p "$dir/home"
export HOME=$dir/home WINEPREFIX=$dir/prefix
. "$here/wine-env.sh"
boot=$WINE64
if [ "$arch" = win32 ]; then
    boot=${KAL_WINE:-/usr/lib/wine/wine}
    export WINEARCH=win32
fi
"$boot" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
"$WINESERVER" -w
grep -qx "#arch=$arch" "$WINEPREFIX/system.reg" || { echo "the new prefix is not $arch" >&2; exit 1; }
find "$WINEPREFIX/drive_c/users" -type l | while read -r link; do
    rm -f "$link"
    mkdir -p "$link"
done
echo "template prefix ($arch) ready in $dir"
