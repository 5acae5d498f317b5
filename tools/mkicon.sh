#!/usr/bin/env bash
# mkicon.sh [SVG] [ICO] - makes the programs' icon from its drawing: res/kalmorist.svg rendered at 16, 32, 48
# and 256 pixels in 32-bit colour with alpha (rsvg-convert), put into one .ico (icotool; the 256-pixel image
# stored as PNG, as Windows Vista and later read it), by default res/setup.ico, which the resource scripts
# include. Needs the packages of "tools/deps.sh icon". Run it after changing the drawing and commit both.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
svg=${1:-$here/../res/kalmorist.svg}
ico=${2:-$here/../res/setup.ico}
"$here/deps.sh" icon
work=$(mktemp -d "${TMPDIR:-/tmp}/kalicon.XXXXXX")
trap 'rm -rf "$work"' EXIT
for n in 16 32 48 256; do
    rsvg-convert --width "$n" --height "$n" --format png "$svg" -o "$work/$n.png"
done
icotool --create --output "$work/icon.ico" "$work/16.png" "$work/32.png" "$work/48.png" --raw="$work/256.png"
mv "$work/icon.ico" "$ico"
icotool --list "$ico"
