#!/bin/sh
# unit-cycles.sh [--graph] ARCHIVE_OR_OBJECT... - fails when plat/'s units call each other in a circle.
#
# A unit is one object file (one .cpp). Unit A calls unit B when A refers to a symbol B defines (nm: an
# undefined symbol of A that B defines); weak references (the GUI front end, found only when linked) are no
# calls. Every circle is printed as its units (a strongly connected component of the graph) and, for each
# call between two of them, the symbols behind it, so that one can see which edge to take out. Exit code 0
# when there is none, 1 when there is one, 2 for bad usage. --graph also prints every unit's calls.
set -eu
graph=no
if [ "${1:-}" = --graph ]; then
    graph=yes
    shift
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 [--graph] ARCHIVE_OR_OBJECT..." >&2
    exit 2
fi
for f in "$@"; do
    [ -f "$f" ] || { echo "$0: no such file: $f" >&2; exit 2; }
done

# nm -A names the member (or the object file) before the last colon; mangled names hold no colon.
nm -A "$@" | awk -F: -v graph="$graph" '
function unit(s) {
    sub(/.*\//, "", s)
    sub(/\.cpp\.o$|\.o$/, "", s)
    return s
}
NF >= 2 && $(NF - 1) ~ /\.o$/ {
    u = unit($(NF - 1))
    n = split($NF, f, " ")
    if (n == 3 && f[2] ~ /^[TDBRVWGSu]$/) {
        defs[f[3]] = defs[f[3]] " " u
    } else if (n == 2 && f[1] == "U") {
        nref++
        ref_unit[nref] = u
        ref_sym[nref] = f[2]
    }
    if (!(u in seen)) {
        seen[u] = 1
        units[++nunits] = u
        index_of[u] = nunits
    }
}
END {
    for (r = 1; r <= nref; r++) {
        m = split(defs[ref_sym[r]], d, " ")
        for (k = 1; k <= m; k++) {
            if (d[k] == ref_unit[r])
                continue
            a = index_of[ref_unit[r]]
            b = index_of[d[k]]
            edge[a, b] = 1
            reach[a, b] = 1
            if (index(" " why[a, b] " ", " " ref_sym[r] " ") == 0)
                why[a, b] = why[a, b] " " ref_sym[r]
        }
    }
    for (k = 1; k <= nunits; k++)
        for (i = 1; i <= nunits; i++)
            if (reach[i, k])
                for (j = 1; j <= nunits; j++)
                    if (reach[k, j])
                        reach[i, j] = 1
    circles = 0
    for (i = 1; i <= nunits; i++) {
        if (placed[i] != "")
            continue
        members = units[i]
        count = 1
        placed[i] = i
        for (j = i + 1; j <= nunits; j++)
            if (placed[j] == "" && reach[i, j] && reach[j, i]) {
                placed[j] = i
                members = members " " units[j]
                count++
            }
        if (count < 2)
            continue
        circles++
        print "circle of calls among the units: " members
        for (a = 1; a <= nunits; a++)
            for (b = 1; b <= nunits; b++)
                if (edge[a, b] && placed[a] == i && placed[b] == i)
                    print "  " units[a] " -> " units[b] ":" why[a, b]
    }
    if (graph == "yes") {
        print "calls of each unit:"
        for (a = 1; a <= nunits; a++) {
            line = "  " units[a] " ->"
            for (b = 1; b <= nunits; b++)
                if (edge[a, b])
                    line = line " " units[b]
            print line
        }
    }
    if (circles > 0) {
        print circles " circle(s) of calls among " nunits " units: plat/ must be layered (see the group headers)"
        exit 1
    }
    print "no circle of calls among " nunits " units"
}' >"${TMPDIR:-/tmp}/unit-cycles.$$" && rc=0 || rc=$?
# The symbols as people read them: demangled, without their parameter lists.
c++filt <"${TMPDIR:-/tmp}/unit-cycles.$$" | sed -e '/^  /{' -e 's/\[abi:cxx11\]//g' -e ':a' -e 's/([^()]*)//g' -e 'ta' -e '}'
rm -f "${TMPDIR:-/tmp}/unit-cycles.$$"
exit $rc
