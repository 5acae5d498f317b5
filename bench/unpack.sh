#!/usr/bin/env bash
# unpack.sh [DIR] - unpacking a package of 48 files, about 600 MB (1 KiB to 64 MiB, half random, half zeros),
# with pkgtool unpack against tar -x of the same files, on the same disk (DIR, by default build/bench/unpack),
# side by side in one hyperfine run, with the installer's way (the package checked against its sum, then
# unpacked: pkgtool verify, then unpack; run last, so that its output is what is compared with the sources),
# the check alone and a bare read of the package (cat); the sum reader alone over the package in memory;
# then the peak memory of the unpack, plain and compressed; then the same unpack without and with the
# installer's progress hook, side by side in one hyperfine run.
# Targets: pkgtool at most 1.15 x tar's time; the check and the unpack at most 1.25 x the unpack alone; the hook at most
# 1 % on the unpack.
set -euo pipefail
. "$(dirname "$0")/common.sh"
bench_dir unpack "${1:-}"

# 40 files from 1 KiB growing by a constant factor to 16 MiB, and eight of 64 MiB; even ones random.
mkdir -p "$work/src" "$work/out"
: >"$work/in.list"
: >"$work/out.list"
for i in $(seq 0 47); do
    if [ "$i" -lt 40 ]; then
        size=$(python3 -c "print(round(1024 * 16384 ** ($i / 39)))")
    else
        size=$((64 << 20))
    fi
    kind=zeros
    [ $((i % 2)) = 0 ] && kind=random
    name=$(printf 'f%02d.%s' "$i" "$kind")
    make_file "$work/src/$name" "$size" "$kind"
    echo "$work/src/$name" >>"$work/in.list"
    echo "$work/out/$name" >>"$work/out.list"
done
total=$(du -cb "$work"/src/* | tail -1 | cut -f1)
echo "48 files, $total bytes"
"$pkgtool" pack "$work/files.pkg" "@$work/in.list"
tar -cf "$work/files.tar" -C "$work/src" .

hyperfine --warmup 1 --runs 5 --export-json "$work/unpack.json" \
    --prepare "rm -rf '$work/out' && mkdir '$work/out' && sync" \
    -n tar "tar -xf '$work/files.tar' -C '$work/out'" \
    -n pkgtool "'$pkgtool' unpack '$work/files.pkg' '@$work/out.list'" \
    -n check "'$pkgtool' verify '$work/files.pkg'" \
    -n read "cat '$work/files.pkg' >/dev/null" \
    -n checked "'$pkgtool' verify '$work/files.pkg' && '$pkgtool' unpack '$work/files.pkg' '@$work/out.list'"
for f in $(cat "$work/in.list"); do cmp -s "$f" "$work/out/$(basename "$f")" || { echo "MISMATCH $f" >&2; exit 1; }; done

t_tar=$(mean_of "$work/unpack.json" tar)
t_pkg=$(mean_of "$work/unpack.json" pkgtool)
ratio=$(python3 -c "print(f'{$t_pkg / $t_tar:.2f}')")
verdict=$(python3 -c "print('met' if $t_pkg <= 1.15 * $t_tar else 'NOT met')")
t_checked=$(mean_of "$work/unpack.json" checked)
t_check=$(mean_of "$work/unpack.json" check)
t_read=$(mean_of "$work/unpack.json" read)
bytes=$(stat -c %s "$work/files.pkg")
check_ratio=$(python3 -c "print(f'{$t_checked / $t_pkg:.2f}')")
check_verdict=$(python3 -c "print('met' if $t_checked <= 1.25 * $t_pkg else 'NOT met')")
# The floor of any check that reads the package a second time: the unpack and a bare read.
floor_ratio=$(python3 -c "print(f'{($t_pkg + $t_read) / $t_pkg:.2f}')")
"$pkgtool" compress "$work/files.pkg" "$work/files.pk_"
rm -rf "$work/out" && mkdir "$work/out"
mem_plain=$(peak_kb "$pkgtool" unpack "$work/files.pkg" "@$work/out.list")
rm -rf "$work/out" && mkdir "$work/out"
mem_packed=$(peak_kb "$pkgtool" unpack "$work/files.pk_" "@$work/out.list")
echo
echo "unpack of $((total / 1000000)) MB: tar $(printf %.3f "$t_tar") s, pkgtool $(printf %.3f "$t_pkg") s: $ratio x tar (target <= 1.15: $verdict)"
echo "checked and unpacked $(printf %.3f "$t_checked") s: $check_ratio x the unpack (target <= 1.25: $check_verdict);" \
    "the unpack and a bare read: $floor_ratio x the unpack;" \
    "the check alone $(printf %.3f "$t_check") s, $(python3 -c "print(round($bytes / $t_check / 1e6))") MB/s;" \
    "a bare read (cat) $(printf %.3f "$t_read") s, $(python3 -c "print(round($bytes / $t_read / 1e6))") MB/s"
echo "the sum reader alone over the package in memory (bench/sum.cpp): $("$bin/sum" "$work/files.pkg")"
echo "peak memory of pkgtool unpack: plain package ${mem_plain} KiB, compressed package (${total} bytes expanded) ${mem_packed} KiB"

# The installer's progress while it unpacks: the same unpack (bench/progress.cpp) without and with the
# package's read hook doing what the installer's does; target: at most 1 % slower with it.
hyperfine --warmup 1 --runs 10 --export-json "$work/progress.json" \
    --prepare "rm -rf '$work/out' && mkdir '$work/out' && sync" \
    -n plain "'$bin/progress' '$work/files.pkg' '$work/out.list'" \
    -n hook "'$bin/progress' --hook '$work/files.pkg' '$work/out.list'"
t_plain=$(mean_of "$work/progress.json" plain)
t_hook=$(mean_of "$work/progress.json" hook)
cost=$(python3 -c "print(f'{($t_hook / $t_plain - 1) * 100:+.1f}')")
verdict=$(python3 -c "print('met' if $t_hook <= 1.01 * $t_plain else 'NOT met')")
echo "unpack with the progress hook: $(printf %.3f "$t_hook") s against $(printf %.3f "$t_plain") s without: $cost % (target <= +1 %: $verdict)"
