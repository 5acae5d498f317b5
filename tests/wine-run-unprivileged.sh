#!/usr/bin/env bash
# wine-run-unprivileged.sh PROGRAM [ARGS...] - as wine-run.sh, but as an unprivileged user (nobody) in a
# private copy of the template prefix: Wine running as root writes over read-only files, so the tests of
# read-only files run this way. Run by someone other than root, it is wine-run.sh.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ]; then
    exec "$here/wine-run.sh" "$@"
fi
template=${KAL_WINE_TEMPLATE:?KAL_WINE_TEMPLATE names the template made by wine-prefix.sh}
user=nobody
group=$(id -gn "$user")
work=$(mktemp -d "${TMPDIR:-/tmp}/kalwine.XXXXXX")
cp -a "$template/prefix" "$work/prefix"
mkdir -p "$work/home" "$work/tmp"
# The program too: the build folder need not be readable by that user.
cp "$1" "$work/"
program=$work/$(basename "$1")
shift
chown -R "$user:$group" "$work"
chmod 755 "$work"
export HOME=$work/home WINEPREFIX=$work/prefix TMPDIR=$work/tmp
. "$here/wine-env.sh"
unset DISPLAY
as_user() { setpriv --reuid="$user" --regid="$group" --clear-groups "$@"; }
(cd "$work" && as_user "$WINE" "$program" "$@")
rc=$?
as_user "$WINESERVER" -k >/dev/null 2>&1
as_user "$WINESERVER" -w >/dev/null 2>&1
rm -rf "$work"
exit $rc
