#!/usr/bin/env bash
# deltree.sh [DIR] - deleting a tree of 20,000 files in 5 levels of folders (four sub-folders each, 1,365
# folders, small files) with UtlDeleteTree (bench/deltree.cpp over plat/) against rm -rf, on the same disk
# (DIR, by default build/bench/deltree), side by side in one hyperfine run with the floor: the host calls that
# the platform's search and deletion cannot do without, made by a bare program (bench/hostfloor.cpp).
# Target: UtlDeleteTree at most 1.3 x rm -rf's time (1.5 x on tmpfs).
set -euo pipefail
. "$(dirname "$0")/common.sh"
deltree=$bin/deltree
hostfloor=$bin/hostfloor
for p in "$deltree" "$hostfloor"; do
    [ -x "$p" ] || { echo "build first: cmake --build --preset linux --target deltree hostfloor" >&2; exit 2; }
done
bench_dir deltree "${1:-}"

python3 - "$work/template" <<'PY'
import os, sys
root = sys.argv[1]
folders = [root]
level = [root]
for depth in range(5):
    level = [os.path.join(d, "d%d" % i) for d in level for i in range(4)]
    folders += level
for d in folders:
    os.makedirs(d, exist_ok=True)
for i in range(20000):
    with open(os.path.join(folders[i % len(folders)], "file%05d.dat" % i), "wb") as f:
        f.write(b"x" * (i % 200))
print(len(folders), "folders, 20000 files")
PY

hyperfine --warmup 1 --runs 10 --export-json "$work/deltree.json" \
    --prepare "rm -rf '$work/tree' && cp -a '$work/template' '$work/tree' && sync" \
    -n "rm -rf" "rm -rf '$work/tree'" \
    -n "host calls alone" "'$hostfloor' delete '$work/tree'" \
    -n UtlDeleteTree "'$deltree' '$work/tree'"
[ ! -e "$work/tree" ] || { echo "the tree is still there" >&2; exit 1; }
t_rm=$(mean_of "$work/deltree.json" "rm -rf")
t_floor=$(mean_of "$work/deltree.json" "host calls alone")
t_utl=$(mean_of "$work/deltree.json" UtlDeleteTree)
tmpfs=$( [ "$(stat -f -c %T "$work")" = tmpfs ] && echo True || echo False)
python3 -c "
r, f, limit = $t_utl / $t_rm, $t_floor / $t_rm, 1.5 if $tmpfs else 1.3
print(f'\ntree deletion of 20000 files: rm -rf {$t_rm:.3f} s, UtlDeleteTree {$t_utl:.3f} s: {r:.2f} x rm -rf (target <= {limit}: {\"met\" if r <= limit else \"NOT met\"})')
print(f'the host calls alone: {$t_floor:.3f} s, {f:.2f} x rm -rf; UtlDeleteTree is {$t_utl / $t_floor:.2f} x them, {($t_utl - $t_floor) / 20000 * 1e6:.1f} us a file over them')"
