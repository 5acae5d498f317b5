#!/usr/bin/env bash
# szdd.sh [DIR] - SZDD expansion and compression against msexpand and mscompress, on the same disk (DIR, by
# default build/bench/szdd):
# - expansion of a compressed package of about 32 MiB (files half random, half zeros): pkgtool expand against
#   msexpand; targets: at least 100 x faster and at least 300 MB/s of output; peak memory at two sizes;
# - compression of 32 MiB (a quarter each of random bytes, zeros, text and programs from /usr): pkgtool
#   compress against mscompress; targets: at least 30 x faster, output at most 2% larger;
# - the two decoders alone, in memory: plat's and libmspack's (when libmspack-dev is installed).
# msexpand and mscompress run once each: they take minutes.
set -euo pipefail
. "$(dirname "$0")/common.sh"
bench_dir szdd "${1:-}"
command -v msexpand >/dev/null || { echo "missing: msexpand, mscompress (apt-get install mscompress)" >&2; exit 2; }

# The package: six random files and six of zeros, 4.25 MiB each.
mkdir -p "$work/src"
: >"$work/in.list"
for i in $(seq 0 11); do
    kind=zeros
    [ $((i % 2)) = 0 ] && kind=random
    make_file "$work/src/f$i" $((4352 << 10)) "$kind"
    echo "$work/src/f$i" >>"$work/in.list"
done
"$pkgtool" pack "$work/files.pkg" "@$work/in.list"
"$pkgtool" compress "$work/files.pkg" "$work/files.pk_"
plain=$(stat -c %s "$work/files.pkg")
packed=$(stat -c %s "$work/files.pk_")
echo "package: $plain bytes, compressed $packed bytes"

echo "== expansion"
hyperfine --warmup 1 --runs 10 --export-json "$work/expand.json" --prepare "rm -f '$work/out.pkg'" \
    -n pkgtool "'$pkgtool' expand '$work/files.pk_' '$work/out.pkg'"
cmp "$work/files.pkg" "$work/out.pkg"
hyperfine --runs 1 --export-json "$work/msexpand.json" -n msexpand "msexpand <'$work/files.pk_' >'$work/ms.pkg'"
cmp "$work/files.pkg" "$work/ms.pkg"
t_pkg=$(mean_of "$work/expand.json" pkgtool)
t_ms=$(mean_of "$work/msexpand.json" msexpand)

# Peak memory does not grow with the package: the same content four times over.
cat "$work/files.pkg" "$work/files.pkg" "$work/files.pkg" "$work/files.pkg" >"$work/big.pkg"
"$pkgtool" compress "$work/big.pkg" "$work/big.pk_"
mem_small=$(peak_kb "$pkgtool" expand "$work/files.pk_" "$work/out.pkg")
mem_big=$(peak_kb "$pkgtool" expand "$work/big.pk_" "$work/out.pkg")
big=$(stat -c %s "$work/big.pkg")
rm -f "$work/big.pkg" "$work/big.pk_" "$work/out.pkg" "$work/ms.pkg"

echo "== compression"
mix=$work/mix
(
    set +o pipefail # head ends the pipes early
    head -c 8M /dev/urandom
    head -c 8M /dev/zero
    find /usr/share/doc /usr/include -type f \( -name '*.h' -o -name 'copyright' -o -name '*.txt' \) 2>/dev/null |
        sort | xargs cat 2>/dev/null | head -c 8M
    find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k 2>/dev/null | sort | xargs cat 2>/dev/null |
        head -c 8M
) >"$mix"
mixsize=$(stat -c %s "$mix")
hyperfine --warmup 1 --runs 5 --export-json "$work/compress.json" --prepare "rm -f '$work/mix.pk_'" \
    -n pkgtool "'$pkgtool' compress '$mix' '$work/mix.pk_'"
hyperfine --runs 1 --export-json "$work/mscompress.json" --prepare "rm -f '${mix}_'" -n mscompress "mscompress '$mix'"
msexpand <"$work/mix.pk_" | cmp - "$mix"
"$pkgtool" expand "${mix}_" "$work/mix.back"
cmp "$work/mix.back" "$mix"
c_pkg=$(mean_of "$work/compress.json" pkgtool)
c_ms=$(mean_of "$work/mscompress.json" mscompress)
s_pkg=$(stat -c %s "$work/mix.pk_")
s_ms=$(stat -c %s "${mix}_")

if [ -f /usr/include/mspack.h ]; then
    echo "== decoders in memory"
    g++ -O2 -I"$root/plat" "$root/bench/szdd-decoders.cpp" "$root/plat/lz/szdd.cpp" -lmspack -o "$work/szdd-decoders"
    "$work/szdd-decoders" "$work/files.pk_"
    "$work/szdd-decoders" "${mix}_"
fi

python3 - "$plain" "$packed" "$t_pkg" "$t_ms" "$mem_small" "$mem_big" "$big" "$mixsize" "$c_pkg" "$c_ms" "$s_pkg" "$s_ms" <<'PY'
import sys
plain, packed = int(sys.argv[1]), int(sys.argv[2])
t_pkg, t_ms = float(sys.argv[3]), float(sys.argv[4])
mem_small, mem_big, big = int(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7])
mixsize, c_pkg, c_ms, s_pkg, s_ms = int(sys.argv[8]), float(sys.argv[9]), float(sys.argv[10]), int(sys.argv[11]), int(sys.argv[12])
ok = lambda b: "met" if b else "NOT met"
mbs = plain / t_pkg / 1e6
print()
print(f"expansion of {packed / 2**20:.1f} MiB to {plain / 2**20:.1f} MiB: pkgtool {t_pkg:.3f} s ({mbs:.0f} MB/s of output), "
      f"msexpand {t_ms:.1f} s ({plain / t_ms / 1e6:.2f} MB/s): {t_ms / t_pkg:.0f} x "
      f"(targets >= 100 x: {ok(t_ms / t_pkg >= 100)}; >= 300 MB/s: {ok(mbs >= 300)})")
print(f"peak memory of pkgtool expand: {mem_small} KiB for {plain / 2**20:.0f} MiB out, {mem_big} KiB for {big / 2**20:.0f} MiB out")
print(f"compression of {mixsize / 2**20:.0f} MiB: pkgtool {c_pkg:.3f} s, mscompress {c_ms:.1f} s: {c_ms / c_pkg:.0f} x "
      f"(target >= 30 x: {ok(c_ms / c_pkg >= 30)}); output {s_pkg} against {s_ms} bytes: {100 * (s_pkg / s_ms - 1):+.2f} % "
      f"(target <= +2 %: {ok(s_pkg <= 1.02 * s_ms)})")
PY
