#!/usr/bin/env bash
# test_pkgtool.sh linux|wine PKGTOOL - the package builder from the outside: exit codes, messages, the list
# output, damaged packages, and SZDD files exchanged with mscompress and msexpand both ways.
# linux: PKGTOOL is the native program, given host paths (relative and absolute) with a machine of its own.
# wine: PKGTOOL is pkgtool.exe, run under Wine in one copy of the template prefix, given Windows paths.
set -uo pipefail
mode=$1
tool=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kalpkgtool.XXXXXX")
trap 'cleanup' EXIT
failures=0

if [ "$mode" = wine ]; then
    template=${KAL_WINE_TEMPLATE:?KAL_WINE_TEMPLATE names the template made by wine-prefix.sh}
    cp -a "$template/prefix" "$work/prefix"
    mkdir -p "$work/home"
    export HOME=$work/home WINEPREFIX=$work/prefix
    . "$here/wine-env.sh"
    unset DISPLAY
    # One server for all the runs below: a run that starts while the server of the run before is shutting
    # down can lose its connection ("wine client error: recvmsg").
    "$WINESERVER" -p
    cleanup() {
        "$WINESERVER" -k >/dev/null 2>&1
        "$WINESERVER" -w >/dev/null 2>&1
        chmod -R u+w "$work" 2>/dev/null
        rm -rf "$work"
    }
    # A host path as the Windows program sees it: drive Z: is the host's root.
    wp() { case "$1" in @*) echo "@$(wp "${1#@}")" ;; *) echo "Z:${1//\//\\}" ;; esac; }
    run() {
        local args=() a
        for a in "$@"; do args+=("$a"); done
        "$WINE" "$tool" "${args[@]}"
    }
else
    export PLAT_ROOT=$work/machine
    cleanup() {
        chmod -R u+w "$work" 2>/dev/null
        rm -rf "$work"
    }
    wp() { echo "$1"; }
    run() { "$tool" "$@"; }
fi

check() { # check NAME EXPECTED-EXIT COMMAND...: runs a command and compares its exit code
    local name=$1 want=$2 rc try
    shift 2
    # A failure of pkgtool comes with its own message ("pkgtool: ..." or its usage). Under Wine a run can end
    # with exit code 1 and no such message when Wine itself fails (a client that loses its server ends so):
    # that run did not test pkgtool, so it is made once more, and said. Twice in a row is a failure.
    for try in 1 2; do
        "$@" >"$work/out.raw" 2>"$work/err.raw"
        rc=$?
        tr -d '\r' <"$work/out.raw" >"$work/out" # Windows programs end their lines with CR LF
        tr -d '\r' <"$work/err.raw" >"$work/err"
        if [ "$rc" = 0 ] || has_message || [ "$mode" != wine ] || [ $try = 2 ]; then
            break
        fi
        echo "note $name: exit $rc without a message from pkgtool, so Wine's own failure: run once more"
        sed 's/^/  err: /' "$work/err"
    done
    if [ "$rc" != "$want" ]; then
        echo "FAIL $name: exit $rc, expected $want"
        sed 's/^/  out: /' "$work/out"
        sed 's/^/  err: /' "$work/err"
        failures=$((failures + 1))
        return 1
    fi
    if [ "$rc" != 0 ] && ! has_message; then
        echo "FAIL $name: exit $rc without a message from pkgtool"
        sed 's/^/  err: /' "$work/err"
        failures=$((failures + 1))
        return 1
    fi
    echo "ok   $name"
}
has_message() { grep -q -e '^pkgtool: ' -e '^usage: ' "$work/err"; }
expect() { # expect NAME CONDITION...: a condition that must hold; on failure, what the last run said
    local name=$1
    shift
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        sed 's/^/  err of the last run: /' "$work/err"
        failures=$((failures + 1))
    fi
}
err_has() { grep -q -- "$1" "$work/err"; }
out_has() { grep -q -- "$1" "$work/out"; }

# Files of different kinds, one read-only, one with a Cyrillic name, with known times.
src=$work/src
mkdir -p "$src" "$work/u"
printf hello >"$src/a.txt"
head -c 200000 /dev/urandom >"$src/b.bin"
head -c 70000 /dev/zero >"$src/c.zero"
: >"$src/d.empty"
seq 1 20000 >"$src/Каталог.kmc"
touch -d '2001-02-03 04:05:06.1234567' "$src"/*
chmod a-w "$src/a.txt"
files=(a.txt b.bin c.zero d.empty Каталог.kmc)
printf '%s\n' "${files[@]/#/$src/}" >"$work/list"
if [ "$mode" = wine ]; then
    # A list for the Windows program holds Windows paths in its code page.
    for f in "${files[@]}"; do wp "$src/$f"; done | iconv -f utf-8 -t cp1251 >"$work/list"
fi
pkg=$work/out.pkg

# Usage
check "no arguments" 2 run
check "unknown command" 2 run frobnicate x
check "pack without files" 2 run pack "$(wp "$pkg")"
check "list of two" 2 run list a b
check "compress without output" 2 run compress "$(wp "$src/a.txt")"

# Packing
args=()
for f in "${files[@]}"; do args+=("$(wp "$src/$f")"); done
check "pack" 0 run pack "$(wp "$pkg")" "${args[@]}"
entries=$((5 * 32 + 5 + 200000 + 70000 + 0 + $(stat -c %s "$src/Каталог.kmc")))
size=$((entries + 32 + 5 * 16 + 48)) # and the sum: its fixed part, five entries' hashes, the whole's, its own, the end
expect "package size is headers plus data plus the sum" [ "$(stat -c %s "$pkg")" = "$size" ]
expect "first header: read-only, 5 bytes" [ "$(od -An -tx1 -N4 "$pkg" | tr -d ' ')$(od -An -tx1 -j28 -N4 "$pkg" | tr -d ' ')" = 0100000005000000 ]
expect "first data follows at 32" [ "$(dd if="$pkg" bs=1 skip=32 count=5 2>/dev/null)" = hello ]
check "pack from a list" 0 run pack "$(wp "$work/list.pkg")" "@$(wp "$work/list")"
expect "list file gives the same size" [ "$(stat -c %s "$work/list.pkg")" = "$size" ]

check "pack a missing file" 1 run pack "$(wp "$work/bad.pkg")" "$(wp "$src/a.txt")" "$(wp "$src/missing")"
expect "message names the file and the status" err_has "missing.*status 1"
expect "failed package is not left behind" [ ! -e "$work/bad.pkg" ]
check "pack the package into itself" 2 run pack "$(wp "$pkg.2")" "$(wp "$src/a.txt")" "$(wp "$pkg.2")"

# Listing
check "list" 0 run list "$(wp "$pkg")"
expect "one line per entry" [ "$(wc -l <"$work/out")" = 5 ]
expect "first line: index, size, attributes, three times" \
    grep -Eq '^ +1 +5 R-- [0-9T:.Z-]{28} [0-9T:.Z-]{28} 2001-02-0[23]T[0-9:]{8}\.1234567Z$' "$work/out"
expect "empty entry listed" grep -Eq '^ +4 +0 --- ' "$work/out"
cp "$work/out" "$work/list.plain"
cp "$pkg" "$work/m.pkg"
mscompress "$work/m.pkg" >/dev/null 2>&1
check "list a package compressed by mscompress" 0 run list "$(wp "$work/m.pkg_")"
expect "same list as the plain package" cmp -s "$work/out" "$work/list.plain"
check "list the package packed from the list" 0 run list "$(wp "$work/list.pkg")"
# Only the access times may differ: the first packing read the files.
expect "the list file gives the same entries" \
    cmp -s <(awk '{print $1, $2, $3, $4, $6}' "$work/out") <(awk '{print $1, $2, $3, $4, $6}' "$work/list.plain")

head -c 100 "$pkg" >"$work/cut-data.pkg"
check "list a package that ends inside data" 1 run list "$(wp "$work/cut-data.pkg")"
expect "reported as damaged inside data" err_has "damaged: entry 2 ends inside its data"
expect "the complete entries are listed" [ "$(wc -l <"$work/out")" = 2 ]
head -c $((37 + 10)) "$pkg" >"$work/cut-head.pkg"
check "list a package that ends inside a header" 1 run list "$(wp "$work/cut-head.pkg")"
expect "reported as damaged inside a header" err_has "damaged: entry 2 ends inside its header"
check "list a missing package" 1 run list "$(wp "$work/none.pkg")"

# Unpacking
outs=()
for f in "${files[@]}"; do outs+=("$(wp "$work/u/$f")"); done
check "unpack" 0 run unpack "$(wp "$pkg")" "${outs[@]}"
same=true
for f in "${files[@]}"; do cmp -s "$src/$f" "$work/u/$f" || same=false; done
expect "unpacked bytes are the packed ones" $same
expect "write time kept" [ "$(stat -c %Y "$work/u/b.bin")" = "$(stat -c %Y "$src/b.bin")" ]
expect "read-only kept" [ "$(stat -c %A "$work/u/a.txt" | cut -c3)" = - ]
expect "others stay writable" [ "$(stat -c %A "$work/u/b.bin" | cut -c3)" = w ]
mkdir -p "$work/u2"
if [ "$mode" = wine ]; then
    for f in "${files[@]}"; do wp "$work/u2/$f"; done | iconv -f utf-8 -t cp1251 >"$work/outlist"
else
    printf '%s\n' "${files[@]/#/$work/u2/}" >"$work/outlist"
fi
check "unpack a compressed package to a list" 0 run unpack "$(wp "$work/m.pkg_")" "@$(wp "$work/outlist")"
expect "same bytes from the compressed package" cmp -s "$src/Каталог.kmc" "$work/u2/Каталог.kmc"

check "unpack more files than entries" 1 run unpack "$(wp "$pkg")" "${outs[@]}" "$(wp "$work/u/extra")"
expect "message names the file and status 4" err_has "extra.*status 4"
expect "no file for the missing entry" [ ! -e "$work/u/extra" ]
check "unpack a package that ends inside data" 1 run unpack "$(wp "$work/cut-data.pkg")" "$(wp "$work/u/x1")" "$(wp "$work/u/x2")"
expect "the second file is the one that fails, with status 4" err_has "x2.*status 4"
expect "the complete entry stays" [ -e "$work/u/x1" ]
expect "the incomplete one is removed" [ ! -e "$work/u/x2" ]
check "unpack onto the package itself" 2 run unpack "$(wp "$pkg")" "$(wp "$pkg")"
check "unpack into a missing folder" 1 run unpack "$(wp "$pkg")" "$(wp "$work/nofolder/a.txt")"
expect "message names the file and status 2" err_has "nofolder.*status 2"

# The sum
check "pack without the sum" 0 run pack --no-sum "$(wp "$work/nosum.pkg")" "${args[@]}"
expect "package size is headers plus data" [ "$(stat -c %s "$work/nosum.pkg")" = "$entries" ]
check "list it" 0 run list "$(wp "$work/nosum.pkg")"
awk '{print $1, $2, $3, $6}' "$work/out" >"$work/nosum.list"
check "list the package with the sum" 0 run list "$(wp "$pkg")"
expect "the same entries as with the sum" cmp -s "$work/nosum.list" <(awk '{print $1, $2, $3, $6}' "$work/out")
check "verify" 0 run verify "$(wp "$pkg")"
expect "says the entries match" out_has "5 entries, all match the sum"
check "verify a package without the sum" 3 run verify "$(wp "$work/nosum.pkg")"
expect "says it has no sum" err_has "no sum"
cp "$pkg" "$work/ref.pkg"
mscompress "$work/ref.pkg" >/dev/null 2>&1
check "verify a compressed package" 0 run verify "$(wp "$work/ref.pkg_")"
# flip FILE OFFSET OUT: a copy with one bit of the byte at OFFSET flipped.
flip() {
    local b
    b=$(od -An -tu1 -j"$2" -N1 "$1" | tr -d ' ')
    { head -c "$2" "$1"; printf "$(printf '\\%03o' $((b ^ 1)))"; tail -c +$(($2 + 2)) "$1"; } >"$3"
}
flip "$pkg" 100 "$work/flip2.pkg" # the second entry's data
check "verify a package with a flipped bit" 1 run verify "$(wp "$work/flip2.pkg")"
expect "names the entry" err_has "damaged: entry 2 differs from its sum"
expect "and no other" [ "$(grep -c differs "$work/err")" = 1 ]
flip "$pkg" $((entries + 40)) "$work/flipsum.pkg"
check "verify a package whose sum has a flipped bit" 1 run verify "$(wp "$work/flipsum.pkg")"
expect "says the sum is damaged" err_has "its sum is damaged"
head -c $((size - 1)) "$pkg" >"$work/cut.pkg"
check "verify a cut package" 1 run verify "$(wp "$work/cut.pkg")"
expect "says it ends early" err_has "damaged: it ends early"
{ cat "$pkg"; echo more; } >"$work/long.pkg"
check "verify a package with bytes appended" 1 run verify "$(wp "$work/long.pkg")"
expect "says bytes follow" err_has "bytes follow its sum"
cp "$work/flip2.pkg" "$work/flip2c.pkg"
mscompress "$work/flip2c.pkg" >/dev/null 2>&1
check "verify a compressed package with a flipped bit" 1 run verify "$(wp "$work/flip2c.pkg_")"
expect "names the entry in the expanded bytes" err_has "damaged: entry 2 differs from its sum"
check "verify a missing package" 1 run verify "$(wp "$work/missing.pkg")"
check "verify without a package" 2 run verify

# SZDD both ways with the reference tools
cat "$src/b.bin" "$src/Каталог.kmc" "$src/c.zero" >"$work/mix"
check "compress" 0 run compress "$(wp "$work/mix")" "$(wp "$work/mix.cmp")"
expect "msexpand reads what compress writes" sh -c "msexpand <'$work/mix.cmp' | cmp -s - '$work/mix'"
check "expand" 0 run expand "$(wp "$work/mix.cmp")" "$(wp "$work/mix.out")"
expect "expand reads what compress writes" cmp -s "$work/mix" "$work/mix.out"
cp "$work/mix" "$work/ref"
mscompress "$work/ref" >/dev/null 2>&1
check "expand what mscompress writes" 0 run expand "$(wp "$work/ref_")" "$(wp "$work/ref.out")"
expect "byte-identical" cmp -s "$work/mix" "$work/ref.out"
ratio=$(($(stat -c %s "$work/mix.cmp") * 1000 / $(stat -c %s "$work/ref_")))
expect "output no more than 2% larger than mscompress's ($ratio/1000)" [ "$ratio" -le 1020 ]
check "compress an empty file" 0 run compress "$(wp "$src/d.empty")" "$(wp "$work/e.cmp")"
expect "msexpand reads the empty file" sh -c "msexpand <'$work/e.cmp' | cmp -s - /dev/null"
check "expand a plain file" 0 run expand "$(wp "$src/a.txt")" "$(wp "$work/plain.out")"
expect "a plain file expands unchanged" cmp -s "$src/a.txt" "$work/plain.out"

head -c 5000 "$work/ref_" >"$work/cut_"
check "expand a truncated file" 1 run expand "$(wp "$work/cut_")" "$(wp "$work/cut.out")"
expect "reported as damaged" err_has "damaged or ends early"
expect "no output left behind" [ ! -e "$work/cut.out" ]
{ head -c 8 "$work/ref_"; printf B; tail -c +10 "$work/ref_"; } >"$work/mode_"
check "expand an unknown mode" 1 run expand "$(wp "$work/mode_")" "$(wp "$work/mode.out")"
expect "reported as an unknown method" err_has "unknown method"
check "expand onto itself" 2 run expand "$(wp "$work/ref_")" "$(wp "$work/ref_")"

# Relative paths, as typed in a shell (Linux); Windows paths relative to the current folder (Wine).
mkdir -p "$work/rel"
cp "$src/b.bin" "$work/rel/"
(
    cd "$work/rel" || exit 1
    up=../src/a.txt
    [ "$mode" = wine ] && up='..\src\a.txt'
    check "relative paths" 0 run pack "r.pkg" "b.bin" "$up" && check "relative unpack" 0 run unpack r.pkg x y
    cmp -s x b.bin && cmp -s y ../src/a.txt
)
expect "relative paths round trip" [ $? = 0 ]

if [ "$failures" != 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "all passed"
