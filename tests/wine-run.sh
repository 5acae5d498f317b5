#!/usr/bin/env bash
# wine-run.sh PROGRAM [ARGS...] - runs a Windows program under Wine in a throwaway copy of the template
# prefix (KAL_WINE_TEMPLATE, made by wine-prefix.sh), and returns its exit code.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
template=${KAL_WINE_TEMPLATE:?KAL_WINE_TEMPLATE names the template made by wine-prefix.sh}
work=$(mktemp -d "${TMPDIR:-/tmp}/kalwine.XXXXXX")
cp -a "$template/prefix" "$work/prefix"
mkdir -p "$work/home"
export HOME=$work/home WINEPREFIX=$work/prefix
. "$here/wine-env.sh"
unset DISPLAY
"$WINE" "$@"
rc=$?
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1
rm -rf "$work"
exit $rc
