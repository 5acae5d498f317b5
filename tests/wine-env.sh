# wine-env.sh - sourced by the Wine scripts: the environment that makes Wine quiet, Russian and headless.
# Expects WINEPREFIX and HOME to be set by the caller. KAL_WINE_LANG, when set, is the locale instead of the
# Russian one: C.UTF-8 gives the ANSI code page 1252 of a Western Windows.
WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
# The loader of the programs under test: wine64 for the x86_64 build; the i686 build sets KAL_WINE to the
# 32-bit loader, which runs them in the same 64-bit (WoW64) prefix as a 64-bit Windows runs 32-bit programs.
WINE=${KAL_WINE:-$WINE64}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export LANG=${KAL_WINE_LANG:-ru_RU.UTF-8} LC_ALL=${KAL_WINE_LANG:-ru_RU.UTF-8}
