# columns.sh - sourced by run.sh and compare.sh: the columns of the scenario table, and which of a
# scenario's lines hold in each. A column is one build of the installer on one kind of machine:
#   linux    the Linux build (a 64-bit program over plat/, whose registry has one view)
#   win64    the 64-bit Setup.exe on 64-bit Windows
#   wow64    the 32-bit Setup.exe on 64-bit Windows: Program Files (x86) and the registry's 32-bit view
#            (WOW6432Node as the 64-bit view sees it)
#   win32os  the 32-bit Setup.exe on 32-bit Windows: Program Files and the one registry view there is
#   linux-cp1252, win64-cp1252
#            linux and win64 on a Western system, whose ANSI code page is 1252 (PLAT_ACP=1252; the C.UTF-8
#            locale under Wine): the same lines, and the same Cyrillic texts (compare-texts.sh)
# A line of the table may start with a word naming where it holds:
#   linux    the linux column
#   wine     the three Windows columns (run under Wine)
#   wow64    the wow64 column
#   native   the columns whose installer has the machine's own bitness and so sees the machine's own
#            registry view and program-files folder: linux, win64, win32os
# shellcheck shell=bash

KAL_COLUMNS="linux win64 wow64 win32os linux-cp1252 win64-cp1252"

# column_words COLUMN: the line prefixes that hold in COLUMN.
column_words() {
    case $1 in
    linux | linux-cp1252) echo "linux native" ;;
    win64 | win64-cp1252) echo "wine native" ;;
    wow64) echo "wine wow64" ;;
    win32os) echo "wine native" ;;
    *) return 1 ;;
    esac
}

# scenario_lines TABLE NAME COLUMN: the scenario's seed, actions, uninstall, expect and reboot lines that hold in COLUMN, in
# order, without their prefix word; comments and blank lines left out. Fails on a scenario that is not
# there and on a line that is none of these (a misspelt prefix would otherwise drop the line unseen).
scenario_lines() {
    local words
    words=$(column_words "$3") || {
        echo "no column $3 ($KAL_COLUMNS)" >&2
        return 1
    }
    awk -v name="$2" -v words="$words" '
        BEGIN {n = split(words, w, " "); for (i = 1; i <= n; i++) mine[w[i]] = 1
               n = split("linux wine wow64 native", w, " "); for (i = 1; i <= n; i++) prefix[w[i]] = 1}
        !on && $1 == "scenario" && $2 == name {on = 1; found = 1; next}
        !on {next}
        $1 == "end" {exit}
        /^[[:space:]]*#/ || !NF {next}
        {sub(/^[[:space:]]+/, "")}
        $1 in prefix {if (!($1 in mine)) next; sub(/^[^[:space:]]+[[:space:]]+/, "")}
        $1 != "seed" && $1 != "actions" && $1 != "uninstall" && $1 != "expect" && $1 != "reboot" {
            print "scenarios.txt: scenario " name ": no seed, actions, uninstall, expect or reboot line: " $0 > "/dev/stderr"
            bad = 1; exit}
        {print}
        END {if (!found) {print "scenarios.txt: no scenario " name > "/dev/stderr"; bad = 1}; exit bad}' "$1"
}
