#!/usr/bin/env bash
# compare-texts.sh FOLDER-A FOLDER-B NAME... - what the user read in each named scenario (NAME.texts: every
# page's caption, buttons and texts, and the report, as run.sh writes them) and its outcome (NAME.outcome) must
# be the same in both folders: a column on a Russian system and the same column on a Western one, whose ANSI
# code page is 1252, show the same Cyrillic texts.
set -uo pipefail
[ $# -ge 3 ] || { echo "usage: $0 FOLDER-A FOLDER-B NAME..." >&2; exit 2; }
a=$1 b=$2
shift 2
status=0
for name in "$@"; do
    for kind in texts outcome; do
        if [ ! -f "$a/$name.$kind" ] || [ ! -f "$b/$name.$kind" ]; then
            echo "scenario $name: no $kind in $a or $b (run the scenarios of both columns first)"
            status=1
        elif ! diff -u "$a/$name.$kind" "$b/$name.$kind"; then
            echo "scenario $name: the $kind differ (- $a, + $b)"
            status=1
        elif [ "$kind" = texts ] && ! LC_ALL=C grep -q $'\xd0' "$a/$name.$kind"; then
            echo "scenario $name: no Cyrillic text in $a/$name.$kind"
            status=1
        fi
    done
    [ $status = 1 ] || echo "scenario $name: the same texts and outcome"
done
exit $status
