#!/usr/bin/env bash
# expect-exit.sh CODE TEXT COMMAND... - runs the command and checks its exit code and that its standard
# error holds TEXT.
set -uo pipefail
code=$1
text=$2
shift 2
err=$(mktemp)
"$@" </dev/null >/dev/null 2>"$err"
rc=$?
if [ "$rc" -ne "$code" ]; then
    echo "exit code $rc, expected $code: $*" >&2
    cat "$err" >&2
    rm -f "$err"
    exit 1
fi
if ! grep -qF -- "$text" "$err"; then
    echo "standard error lacks \"$text\":" >&2
    cat "$err" >&2
    rm -f "$err"
    exit 1
fi
rm -f "$err"
