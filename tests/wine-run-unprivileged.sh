#!/usr/bin/env bash
# wine-run-unprivileged.sh PROGRAM [ARGS...] - as wine-run.sh, but as the unprivileged user nobody: under
# Wine, root may write, replace and copy over read-only files, so the tests of the platform's read-only rules
# need an ordinary user. Started by an ordinary user, it runs as that user.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ]; then
    exec "$here/wine-run.sh" "$@"
fi
template=${KAL_WINE_TEMPLATE:?KAL_WINE_TEMPLATE names the template made by wine-prefix.sh}
user=nobody
group=$(id -gn "$user")
work=$(mktemp -d "${TMPDIR:-/tmp}/kalwine.XXXXXX")
chmod 755 "$work"
cp -a "$template/prefix" "$work/prefix"
mkdir -p "$work/home" "$work/tmp"
chown -R "$user:$group" "$work/prefix" "$work/home" "$work/tmp"
export HOME=$work/home WINEPREFIX=$work/prefix TMPDIR=$work/tmp
. "$here/wine-env.sh"
unset DISPLAY
as_user() { setpriv --reuid="$user" --regid="$group" --clear-groups "$@"; }
as_user "$WINE64" "$@"
rc=$?
as_user "$WINESERVER" -k >/dev/null 2>&1
as_user "$WINESERVER" -w >/dev/null 2>&1
rm -rf "$work"
exit $rc
