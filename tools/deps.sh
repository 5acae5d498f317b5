#!/usr/bin/env bash
# deps.sh demo|test|bench|icon [--list] - makes sure the Debian packages that running the demo, building
# and testing (signing included), running the benchmarks (bench/) or making the icon (tools/mkicon.sh) need
# are there. As root it installs what is missing (and generates the Russian locale that Wine needs);
# otherwise it prints the one command that is missing and fails. --list only prints the package list. The
# tests of the 32-bit Windows build need Wine's 32-bit half (wine32:i386), so "test" also adds the i386
# architecture to dpkg when it is missing.
set -euo pipefail

demo="make cmake ninja-build g++ binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64 libsqlite3-dev libfltk1.3-dev libxxhash-dev
      fonts-liberation"
test="$demo clang libclang-rt-14-dev googletest g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 locales
      xvfb xauth mscompress liblnk-utils imagemagick xdotool libxml2-utils osslsigncode openssl
      wine32:i386"
bench="$demo hyperfine time python3 mscompress"
icon="librsvg2-bin icoutils"

case "${1:-}" in
demo) want=$demo ;;
test) want=$test ;;
bench) want=$bench ;;
icon) want=$icon ;;
*)
    echo "usage: tools/deps.sh demo|test|bench|icon [--list]" >&2
    exit 2
    ;;
esac
if [ "${2:-}" = "--list" ]; then
    echo $want
    exit 0
fi

missing=""
for p in $want; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing="$missing $p"
done
needarch=""
case " $missing " in
*":i386 "*) dpkg --print-foreign-architectures | grep -qx i386 || needarch=yes ;;
esac
needlocale=""
if [ "$1" = test ] && ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
    needlocale=yes
fi

if [ -z "$missing" ] && [ -z "$needlocale" ]; then
    exit 0
fi
if [ "$(id -u)" -eq 0 ]; then
    if [ -n "$missing" ]; then
        export DEBIAN_FRONTEND=noninteractive
        [ -z "$needarch" ] || dpkg --add-architecture i386
        apt-get update
        apt-get install -y $missing
    fi
    if [ "$1" = test ] && ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
        sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
        grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >>/etc/locale.gen
        locale-gen
    fi
    exit 0
fi
if [ -n "$needarch" ]; then
    echo "missing packages; run: sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install$missing" >&2
elif [ -n "$missing" ]; then
    echo "missing packages; run: sudo apt-get install$missing" >&2
fi
[ -n "$needlocale" ] && echo "missing locale; run: sudo sh -c \"sed -i 's/^# *ru_RU.UTF-8/ru_RU.UTF-8/' /etc/locale.gen && locale-gen\"" >&2
exit 1
