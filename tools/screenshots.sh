#!/usr/bin/env bash
# screenshots.sh [WHAT] [OUTDIR] - screenshots of every page, from the Linux GUI front end and from the
# Windows build under Wine, on a private Xvfb display; each page also side by side (Wine left, Linux right).
#   WHAT = wizdemo    the wizard demonstration (page1..page4); needs wizdemo built for linux and win64
#          installer  the installer from the demo medium: a first installation (install-*) and an upgrade
#                     from an older version (upgrade-*); the first and final page of a first installation
#                     by the 32-bit Setup.exe too (install-*-wine32, as on 64-bit Windows: the 32-bit
#                     loader in the same 64-bit prefix); needs build/linux/medium, build/win64/medium and
#                     build/win32/medium
#          uninstaller  the uninstaller started from the application folder after a first installation
#                     (uninstall-*: welcome, option, final page); needs the same media and win64's wizdrive
#          dpi        the 64-bit Setup.exe's welcome page under Wine at 144 DPI (dpi144-welcome-wine.png)
#          cp1252     the 64-bit Setup.exe's welcome page under Wine on a Western system, whose ANSI code
#                     page is 1252 (the C.UTF-8 locale): cp1252-welcome-wine.png; needs build/win64/medium
#          all        all of them (the default)
# OUTDIR defaults to docs/screenshots/. Every run uses fresh machines: a temporary PLAT_ROOT for each Linux run and a
# fresh copy of a Wine prefix made for the display for each Windows run. The images carry no time stamps, so
# a run that draws the same pixels writes the same bytes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-all}
out=${2:-$root/docs/screenshots}
case $what in
wizdemo | installer | uninstaller | dpi | cp1252 | all) ;;
*) echo "usage: $0 [wizdemo|installer|uninstaller|dpi|cp1252|all] [OUTDIR]" >&2; exit 2 ;;
esac
want() { [ "$what" = all ] || [ "$what" = "$1" ]; }

if want wizdemo; then
    if [ ! -x "$root/build/linux/bin/wizdemo" ] || [ ! -f "$root/build/win64/bin/wizdemo.exe" ]; then
        echo "build wizdemo for linux and win64 first" >&2
        exit 1
    fi
fi
if want installer || want uninstaller || want dpi; then
    if [ ! -x "$root/build/linux/medium/setup" ] || [ ! -f "$root/build/win64/medium/Setup.exe" ] ||
        [ ! -f "$root/build/win32/medium/Setup.exe" ]; then
        echo "build the demo medium for linux, win64 and win32 first (cmake --build --preset linux, then win64, win32)" >&2
        exit 1
    fi
fi
if want cp1252 && [ ! -f "$root/build/win64/medium/Setup.exe" ]; then
    echo "build the demo medium for win64 first (cmake --build --preset win64)" >&2
    exit 1
fi
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/kalshots.XXXXXX")
app=""
prefixes=()

# A display of our own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    if [ -n "$app" ]; then kill "$app" 2>/dev/null || true; fi
    for p in "${prefixes[@]}"; do
        WINEPREFIX=$p "${WINESERVER:-/usr/lib/wine/wineserver}" -k >/dev/null 2>&1 || true
    done
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=:$(head -1 "$work/display")
export DISPLAY

# geometry WINDOWID: "WIDTH HEIGHT X Y" of the window with its frame, if any, on the screen.
geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2} END{print w, h, x, y}'
}

# shoot NAME WINDOWID: the window cut from the screen.
shoot() {
    local w h x y
    read -r w h x y < <(geometry "$2")
    import -window root -crop "${w}x$h+$x+$y" +repage -define png:exclude-chunks=date,time "$work/$1.png"
}

# darkest WINDOWID DX: the darkest grey level (0..1) of a 24 x 6 strip DX pixels left of the window's right
# edge, 28 pixels above its bottom: the middle of a button's label in the bottom row.
darkest() {
    local w h x y
    read -r w h x y < <(geometry "$1")
    import -window root -crop "24x6+$((x + w - $2))+$((y + h - 28))" +repage -colorspace gray \
        -format '%[fx:minima]' info:
}

# wait_final WINDOWID: waits until the final page shows the report: Next is hidden (nothing drawn where its
# label was) and Close, where Cancel was, has a black label (it is greyed while the steps run).
wait_final() {
    for _ in $(seq 300); do
        if awk -v n="$(darkest "$1" 152)" -v c="$(darkest "$1" 64)" 'BEGIN{exit !(n > 0.8 && c < 0.3)}'; then
            sleep 0.5
            return 0
        fi
        sleep 0.2
    done
    echo "the final page did not show the report" >&2
    exit 1
}

# find_window SEARCH...: the id of the wizard's window, once it is shown and drawn.
find_window() {
    local id=""
    for _ in $(seq 100); do
        id=$(xdotool search "$@" 2>/dev/null | tail -1 || true)
        [ -n "$id" ] && break
        sleep 0.2
    done
    [ -n "$id" ] || { echo "no wizard window on $DISPLAY" >&2; exit 1; }
    sleep 1.5
    xdotool windowfocus "$id" 2>/dev/null || true
    sleep 0.3
    echo "$id"
}

# The walks, by keys as a user would press them: walk_X NAME PLATFORM SEARCH..., the shots being
# NAME-<page>-PLATFORM; SEARCH finds the window.
# wizdemo: four pages: Enter (Next), Enter (Next from the text box), Space (the check box), Enter (Finish).
walk_wizdemo() {
    local id
    id=$(find_window "${@:3}")
    shoot "$1-1-$2" "$id"
    xdotool key Return; sleep 0.7; shoot "$1-2-$2" "$id"
    xdotool key Return; sleep 0.7; xdotool key space; sleep 0.7; shoot "$1-3-$2" "$id"
    xdotool key Return; sleep 1; shoot "$1-4-$2" "$id"
    xdotool key Return; sleep 0.5
}

# install: the welcome page, Enter (Finish), the final page with the report, Enter (Close).
walk_install() {
    local id
    id=$(find_window "${@:3}")
    shoot "$1-1-$2" "$id"
    xdotool key Return; wait_final "$id"; shoot "$1-2-$2" "$id"
    xdotool key Return; sleep 0.5
}

# upgrade: the welcome page, Enter (Next), the upgrade page (removal of the older version left on), Enter
# (Finish), the final page with the report, Enter (Close).
walk_upgrade() {
    local id
    id=$(find_window "${@:3}")
    shoot "$1-1-$2" "$id"
    xdotool key Return; sleep 0.7; shoot "$1-2-$2" "$id"
    xdotool key Return; wait_final "$id"; shoot "$1-3-$2" "$id"
    xdotool key Return; sleep 0.5
}

# run_linux NAME WALK SETUP [SEED]: runs the Linux program on a fresh machine folder (seeded by the function
# SEED, if given) under the GUI front end and walks it.
run_linux() {
    export PLAT_ROOT=$work/machine-$1
    rm -rf "$PLAT_ROOT"
    mkdir -p "$PLAT_ROOT"
    [ -z "${4:-}" ] || "$4"
    PLAT_UI=gui "${3//@ROOT@/$PLAT_ROOT}" &
    app=$!
    "$2" "$1" linux --class FLTK
    wait "$app" || true
    app=""
    unset PLAT_ROOT
}

# The Wine side: one template prefix made for the display (Wine draws its own frame and caption, there
# being no window manager), copied fresh for each run.
wine_template() {
    [ -d "$work/template" ] && return 0
    export HOME=$work/home
    mkdir -p "$HOME"
    # shellcheck source=SCRIPTDIR/../tests/wine-env.sh
    . "$root/tests/wine-env.sh"
    export WINEPREFIX=$work/template
    prefixes+=("$WINEPREFIX")
    "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    "$WINESERVER" -w
}

# run_wine NAME WALK PROGRAM [SEED [LOADER]]: runs the Windows program in a fresh copy of the template prefix
# (seeded by the function SEED, if given) and walks it. LOADER "wine32" runs a 32-bit program with the 32-bit
# loader, as 64-bit Windows runs it; its shots are NAME-<page>-wine32.
run_wine() {
    wine_template
    local loader=$WINE64 label=wine
    if [ "${5:-}" = wine32 ]; then
        loader=${KAL_WINE:-/usr/lib/wine/wine} label=wine32
    fi
    export WINEPREFIX=$work/prefix-$1-$label
    cp -a "$work/template" "$WINEPREFIX"
    prefixes+=("$WINEPREFIX")
    [ -z "${4:-}" ] || "$4"
    "$loader" "$3" &
    app=$!
    "$2" "$1" $label --name "$TITLE"
    wait "$app" || true
    app=""
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}

# The caption Wine's window is found by.
TITLE='Установка'

# The uninstaller: the welcome page, Enter (Next), the option page (the user's data kept), Enter (Finish),
# the final page with the report, Enter (Close). Started from the application folder, it shows its wizard
# from its copy in the temporary folder.
walk_uninstall() {
    walk_upgrade "$@"
}

# A first installation before the uninstaller runs: scripted on Linux, driven by wizdrive under Wine.
seed_install_linux() {
    PLAT_UI=script PLAT_SCRIPT="next cancel" "$root/build/linux/medium/setup" >/dev/null 2>&1
}
seed_install_wine() {
    "$WINE64" "$root/build/win64/bin/wizdrive.exe" "Z:$(echo "$root/build/win64/medium/Setup.exe" | tr / '\\')" \
        next cancel >/dev/null 2>&1
    "$WINESERVER" -w
}

# The screen at 144 dots per inch for the programs the prefix starts next.
seed_dpi144() {
    "$WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
    "$WINESERVER" -w
}

# dpi: the welcome page only, then Escape (Cancel).
walk_dpi() {
    local id
    id=$(find_window "${@:3}")
    shoot "$1-1-$2" "$id"
    xdotool key Escape; sleep 0.5
}

# The older version for the upgrade: its uninstall entry and its folder with a catalogue.
older_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kalmori6'
seed_linux() {
    "$root/build/linux/bin/plat-reg" add "$older_key" /v DisplayName /d 'Kalmorist 6.0' /f >/dev/null
    mkdir -p "$PLAT_ROOT/drive_c/Program Files/Kalmori6/Katalogy"
    printf 'older catalogue\r\n' >"$PLAT_ROOT/drive_c/Program Files/Kalmori6/Katalogy/a.kmc"
}
seed_wine() {
    "$WINE64" reg add "$older_key" /v DisplayName /d 'Kalmorist 6.0' /f >/dev/null 2>&1
    "$WINESERVER" -w
    mkdir -p "$WINEPREFIX/drive_c/Program Files/Kalmori6/Katalogy"
    printf 'older catalogue\r\n' >"$WINEPREFIX/drive_c/Program Files/Kalmori6/Katalogy/a.kmc"
}

# publish SHOT OUTNAME: the Linux and Wine shots, and both side by side.
publish() {
    cp "$work/$1-linux.png" "$out/$2-linux.png"
    cp "$work/$1-wine.png" "$out/$2-wine.png"
    convert "$work/$1-wine.png" -background black -gravity north -splice 0x0 \
        \( "$work/$1-linux.png" \) -gravity north -background '#202020' +append \
        -define png:exclude-chunks=date,time "$out/$2.png"
}

if want wizdemo; then
    run_linux wizdemo walk_wizdemo "$root/build/linux/bin/wizdemo"
    run_wine wizdemo walk_wizdemo "$root/build/win64/bin/wizdemo.exe"
    for n in 1 2 3 4; do
        publish "wizdemo-$n" "page$n"
    done
fi
if want installer; then
    run_linux install walk_install "$root/build/linux/medium/setup"
    run_wine install walk_install "$root/build/win64/medium/Setup.exe"
    run_linux upgrade walk_upgrade "$root/build/linux/medium/setup" seed_linux
    run_wine upgrade walk_upgrade "$root/build/win64/medium/Setup.exe" seed_wine
    publish install-1 install-1-welcome
    publish install-2 install-2-final
    publish upgrade-1 upgrade-1-welcome
    publish upgrade-2 upgrade-2-option
    publish upgrade-3 upgrade-3-final
    # The 32-bit Setup.exe: the first and the final page of a first installation, where this host runs
    # 32-bit programs (the kernel may refuse them: then these two shots are left as they are).
    if "${KAL_WINE:-/usr/lib/wine/wine}" --version >/dev/null 2>&1; then
        run_wine install walk_install "$root/build/win32/medium/Setup.exe" "" wine32
        cp "$work/install-1-wine32.png" "$out/install-1-welcome-wine32.png"
        cp "$work/install-2-wine32.png" "$out/install-2-final-wine32.png"
    else
        echo "the 32-bit Setup.exe does not run on this host: install-*-wine32.png left as they are" >&2
    fi
fi
if want dpi; then
    # The welcome page at 144 DPI (150 %): the programs are DPI-aware, so the dialog and the picture grow
    # together. Wine only; the Linux front ends draw at 96.
    run_wine dpi144 walk_dpi "$root/build/win64/medium/Setup.exe" seed_dpi144
    cp "$work/dpi144-1-wine.png" "$out/dpi144-welcome-wine.png"
fi
if want cp1252; then
    # The welcome page on a Western Windows: the texts are Cyrillic all the same. The locale is the
    # wineserver's, which each run starts afresh.
    wine_template
    export KAL_WINE_LANG=C.UTF-8 LANG=C.UTF-8 LC_ALL=C.UTF-8
    run_wine cp1252 walk_dpi "$root/build/win64/medium/Setup.exe"
    export KAL_WINE_LANG=ru_RU.UTF-8 LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
    cp "$work/cp1252-1-wine.png" "$out/cp1252-welcome-wine.png"
fi
if want uninstaller; then
    run_linux uninstall walk_uninstall "@ROOT@/drive_c/Program Files/Kalmor61/Uninst.exe" seed_install_linux
    TITLE='Удаление'
    run_wine uninstall walk_uninstall 'C:\Program Files\Kalmor61\Uninst.exe' seed_install_wine
    TITLE='Установка'
    publish uninstall-1 uninstall-1-welcome
    publish uninstall-2 uninstall-2-option
    publish uninstall-3 uninstall-3-final
fi
echo "screenshots in $out"
