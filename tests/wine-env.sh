# wine-env.sh - sourced by the Wine scripts: the environment that makes Wine quiet, Russian and headless.
# Expects WINEPREFIX and HOME to be set by the caller.
WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
