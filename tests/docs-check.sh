#!/usr/bin/env bash
# docs-check.sh ROOT - the README stays short and the documentation's links lead somewhere: README.md holds at
# most 250 lines, and every relative link in README.md and in the pages under docs/ names a file or folder
# that is there and, when it names a heading (PAGE.md#anchor or #anchor), a heading of that page. Links in
# fenced code blocks and links to other sites are not looked at. Each fault is printed as FILE: LINK: why.
# Exit code 0 when all is well, 1 otherwise, 2 for bad usage.
#
# docs-check.sh --self-test ROOT - the check against spoilt copies of ROOT's documentation: a README one line
# too long, a link to a missing page, to a missing heading, to a missing image; each must be refused, and the
# copy as it is must pass.
set -uo pipefail
readme_max=250

# anchors FILE: the anchors of the headings of a markdown page, one a line, made as the hosting site makes
# them: lower case, everything but letters, digits, blanks, hyphens and underscores dropped, blanks made
# hyphens; a repeated heading gets -1, -2, ... appended.
anchors() {
    awk '/^```/ { code = !code; next } !code && /^#+ / { sub(/^#+ +/, ""); print }' "$1" |
        tr '[:upper:]' '[:lower:]' |
        sed -e 's/[^[:alnum:]_ -]//g' -e 's/ /-/g' |
        awk '{ n = seen[$0]++; print (n ? $0 "-" n : $0) }'
}

# links FILE: the relative link targets of a markdown page outside fenced code, one a line.
links() {
    awk '/^```/ { code = !code; next } !code' "$1" |
        grep -o '\](\([^)]*\))' | sed -e 's/^](//' -e 's/)$//' |
        grep -v -E '^(https?|mailto):'
}

# check ROOT: prints every fault and returns 1 when there was one. Each page's anchors are made once.
check() {
    local root=$1 bad=0 n file target path frag dest
    local -A heads=()
    n=$(wc -l <"$root/README.md")
    if [ "$n" -gt "$readme_max" ]; then
        echo "README.md: $n lines, at most $readme_max"
        bad=1
    fi
    while IFS= read -r file; do
        while IFS= read -r target; do
            path=${target%%#*}
            frag=""
            [ "$path" != "$target" ] && frag=${target#*#}
            if [ -z "$path" ]; then
                dest=$file
            else
                dest=${file%/*}/$path
            fi
            if [ ! -e "$dest" ]; then
                echo "${file#"$root"/}: $target: no such file"
                bad=1
            elif [ -n "$frag" ] && [ -f "$dest" ]; then
                [ -n "${heads[$dest]+set}" ] || heads[$dest]=$'\n'$(anchors "$dest")$'\n'
                if [[ ${heads[$dest]} != *$'\n'"$frag"$'\n'* ]]; then
                    echo "${file#"$root"/}: $target: no such heading in ${dest#"$root"/}"
                    bad=1
                fi
            fi
        done < <(links "$file")
    done < <(find "$root/README.md" "$root/docs" -name '*.md' | sort)
    return $bad
}

self_test() {
    local root=$1 work failed=0 out
    work=$(mktemp -d "${TMPDIR:-/tmp}/docscheck.XXXXXX")
    trap 'rm -rf "$work"' RETURN
    # spoil NAME SED-COMMAND FILE: a fresh copy with FILE edited; the check must refuse it.
    spoil() {
        rm -rf "$work/copy"
        mkdir -p "$work/copy"
        cp -R "$root/README.md" "$root/docs" "$work/copy/"
        sed -i "$2" "$work/copy/$3"
        if out=$(check "$work/copy"); then
            echo "self-test: $1: MISSED"
            failed=1
        else
            echo "self-test: $1: caught ($out)"
        fi
    }
    rm -rf "$work/copy"
    mkdir -p "$work/copy"
    cp -R "$root/README.md" "$root/docs" "$work/copy/"
    if out=$(check "$work/copy"); then
        echo "self-test: the documentation as it is passes"
    else
        echo "self-test: the documentation as it is fails: $out"
        failed=1
    fi
    local pad
    pad=$((readme_max - $(wc -l <"$root/README.md") + 1))
    spoil "a README one line too long" "\$r /dev/stdin" README.md < <(yes '' | head -n "$pad")
    spoil "a link to a missing page" '$a [gone](docs/no-such-page.md)' README.md
    spoil "a link to a missing heading" '$a [gone](#no-such-heading)' docs/testing.md
    spoil "a link to a missing heading of another page" '$a [gone](machine.md#no-such-heading)' docs/tools.md
    spoil "a link to a missing image" '$a ![gone](no-such-shot.png)' docs/screenshots/README.md
    return $failed
}

case "${1:-}" in
--self-test)
    [ $# -eq 2 ] || { echo "usage: $0 [--self-test] ROOT" >&2; exit 2; }
    self_test "$2"
    exit $?
    ;;
"" | -*) echo "usage: $0 [--self-test] ROOT" >&2; exit 2 ;;
esac
[ $# -eq 1 ] || { echo "usage: $0 [--self-test] ROOT" >&2; exit 2; }
check "$1"
