#!/usr/bin/env bash
# compare.sh COLUMN=FOLDER... - the outcome of every scenario (the report, the uninstall area, the program
# files and the shortcuts) must be the same in every column given (linux, win64, wow64, win32os: see
# columns.sh), FOLDER holding that column's NAME.outcome files as run.sh writes them. Where the table gives
# columns different lines for a scenario (lines that hold on some platforms only), the columns given the
# same lines are compared with each other; a column whose lines are its own is compared with none.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
table=$here/scenarios.txt
# shellcheck source=SCRIPTDIR/columns.sh
. "$here/columns.sh"
[ $# -ge 2 ] || { echo "usage: $0 COLUMN=FOLDER COLUMN=FOLDER..." >&2; exit 2; }
columns=()
declare -A folder
for arg in "$@"; do
    c=${arg%%=*}
    column_words "$c" >/dev/null || { echo "no column $c ($KAL_COLUMNS)" >&2; exit 2; }
    columns+=("$c")
    folder[$c]=${arg#*=}
done
work=$(mktemp -d "${TMPDIR:-/tmp}/kalcompare.XXXXXX")
trap 'rm -rf "$work"' EXIT

status=0
compared=0
for name in $(awk '$1 == "scenario" {print $2}' "$table"); do
    # The damaged packages run in the linux and win64 columns only (see the table).
    cols=()
    for c in "${columns[@]}"; do
        case $name:$c in damaged-*:wow64 | damaged-*:win32os) ;; *) cols+=("$c") ;; esac
    done
    # The columns in groups of the same lines, each group led by its first column.
    declare -A lead=()
    for c in "${cols[@]}"; do
        scenario_lines "$table" "$name" "$c" >"$work/$c.lines"
        lead[$c]=$c
        for d in "${cols[@]}"; do
            [ "$d" != "$c" ] || break
            if [ "${lead[$d]}" = "$d" ] && cmp -s "$work/$d.lines" "$work/$c.lines"; then
                lead[$c]=$d
                break
            fi
        done
    done
    missing=""
    for c in "${cols[@]}"; do
        [ -f "${folder[$c]}/$name.outcome" ] || missing+=" $c"
    done
    if [ -n "$missing" ]; then
        echo "scenario $name: no outcome from$missing (run the scenarios of these columns first)"
        status=1
        continue
    fi
    agreed=1 pairs=0 alone=""
    for c in "${cols[@]}"; do
        d=${lead[$c]}
        if [ "$d" = "$c" ]; then
            # A group of one: the column's lines are its own.
            n=0
            for e in "${cols[@]}"; do [ "${lead[$e]}" != "$c" ] || n=$((n + 1)); done
            [ $n -gt 1 ] || alone+=" $c"
            continue
        fi
        pairs=$((pairs + 1))
        if ! diff -u "${folder[$d]}/$name.outcome" "${folder[$c]}/$name.outcome" >"$work/diff"; then
            echo "scenario $name: $d and $c disagree (- $d, + $c):"
            cat "$work/diff"
            agreed=0
            status=1
        fi
    done
    if [ -n "$alone" ]; then
        echo "scenario $name: platform-specific by the table; compared with no other column:$alone"
    fi
    [ $agreed = 0 ] || [ $pairs = 0 ] || compared=$((compared + 1))
done
echo "$compared scenarios agree between the columns ${columns[*]} (those the table gives the same lines)"
exit $status
