#!/usr/bin/env bash
# screenshots.sh [OUTDIR] - screenshots of every page of the wizard demonstration, from the Linux GUI front
# end and from the Windows build under Wine, on a private Xvfb display; each page also side by side
# (Wine left, Linux right). Needs the linux and win64 builds of wizdemo. OUTDIR defaults to docs/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs}
linux=$root/build/linux/bin/wizdemo
windows=$root/build/win64/bin/wizdemo.exe
[ -x "$linux" ] && [ -f "$windows" ] || { echo "build wizdemo for linux and win64 first" >&2; exit 1; }
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/kalshots.XXXXXX")
display=:$((60 + RANDOM % 30))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    [ -n "${WINESERVER:-}" ] && [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
sleep 1

# shoot NAME WINDOWID: the window with its frame, if any, cut from the screen.
shoot() {
    local geo
    geo=$(xwininfo -id "$2" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2} END{print w "x" h "+" x "+" y}')
    import -window root -crop "$geo" +repage "$work/$1.png"
}

# walk PREFIX SEARCH...: the four pages, reached by keys: Enter (Next), Enter (Next from the text box), Space (the
# check box), Enter (Finish).
walk() {
    local id=""
    for _ in $(seq 50); do
        id=$(xdotool search "${@:2}" 2>/dev/null | tail -1 || true)
        [ -n "$id" ] && break
        sleep 0.2
    done
    [ -n "$id" ] || { echo "no wizard window on $DISPLAY" >&2; exit 1; }
    sleep 1.5
    xdotool windowfocus "$id" 2>/dev/null || true
    shoot "$1-1" "$id"
    xdotool key Return; sleep 0.7; shoot "$1-2" "$id"
    xdotool key Return; sleep 0.7; xdotool key space; sleep 0.7; shoot "$1-3" "$id"
    xdotool key Return; sleep 1; shoot "$1-4" "$id"
    xdotool key Return; sleep 0.5
}

PLAT_UI=gui "$linux" &
app=$!
walk linux --class FLTK
wait "$app" || true
app=""

# Wine draws its own frame and caption (no window manager); a prefix of its own, with the X11 driver.
export HOME=$work/home WINEPREFIX=$work/prefix
mkdir -p "$HOME"
. "$root/tests/wine-env.sh"
"$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"$WINESERVER" -w
"$WINE64" "$windows" &
app=$!
walk wine --name 'Установка'
wait "$app" || true
app=""

for n in 1 2 3 4; do
    cp "$work/linux-$n.png" "$out/page$n-linux.png"
    cp "$work/wine-$n.png" "$out/page$n-wine.png"
    convert "$work/wine-$n.png" -background black -gravity north -splice 0x0 \
        \( "$work/linux-$n.png" \) -gravity north -background '#202020' +append "$out/page$n.png"
done
echo "screenshots in $out"
