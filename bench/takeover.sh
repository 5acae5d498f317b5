#!/usr/bin/env bash
# takeover.sh [DIR] - an upgrade that takes over the older version's .sc1 files: the installer (script front
# end, the older version kept) on machines whose older folder holds 0, 2,000 and 20,000 of them, against cp -a
# of the same 20,000 files, side by side in one hyperfine run; then pkgtool unpacking the medium's 48 files
# into an empty folder and into one that already holds 20,000 entries, side by side in another with a bare
# program's read of each folder (bench/hostfloor.cpp): a lookup without case must read the full folder once,
# so the unpack's floor there is the empty unpack plus that read. On the disk of DIR (by default
# build/bench/takeover).
# Targets: the upgrade of 20,000 files at most 2 x cp's time; its time per file (beyond the upgrade without
# files) at 20,000 at most 1.5 x that at 2,000; the unpack into the full folder at most 1.2 x into the empty.
set -euo pipefail
. "$(dirname "$0")/common.sh"
setup=$build/medium/setup
for p in "$setup" "$bin/plat-reg" "$bin/hostfloor"; do
    [ -x "$p" ] || { echo "build first: cmake --build --preset linux --target medium plat-reg hostfloor" >&2; exit 2; }
done
bench_dir takeover "${1:-}"
old="drive_c/Program Files/Kalmori6"

# A machine with the older version registered and N files in its folder (names in several cases).
make_machine() {
    local m=$work/template-$1
    PLAT_ROOT=$m "$bin/plat-reg" add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kalmori6' \
        /v DisplayName /d 'Kalmorist 6.0' /f >/dev/null
    mkdir -p "$m/$old"
    python3 - "$m/$old" "$1" <<'PY'
import os, sys
d, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    name = ("Plan%05d.sc1", "plan%05d.SC1", "PLAN%05d.sc1")[i % 3] % i
    with open(os.path.join(d, name), "wb") as f:
        f.write(b"s" * (100 + i % 900))
PY
}
for n in 0 2000 20000; do make_machine $n; done
echo "older folders of 0, 2000 and 20000 .sc1 files"

restore() { echo "rm -rf '$work/machine' '$work/copy' && cp -a '$work/template-$1' '$work/machine' && sync"; }
upgrade="PLAT_ROOT='$work/machine' PLAT_UI=script PLAT_SCRIPT='next uncheck next cancel' '$setup' >'$work/setup.out'"
hyperfine --runs 3 --export-json "$work/takeover.json" \
    --prepare "$(restore 20000)" --prepare "$(restore 0)" --prepare "$(restore 2000)" --prepare "$(restore 20000)" \
    -n "cp -a 20000" "cp -a '$work/machine/$old' '$work/copy'" \
    -n "upgrade 0" "$upgrade" \
    -n "upgrade 2000" "$upgrade" \
    -n "upgrade 20000" "$upgrade"
taken=$(ls "$work/machine/drive_c/Program Files/Kalmor61" | grep -ci '\.sc1$' || true)
[ "$taken" = 20000 ] || { echo "the upgrade took over $taken files, not 20000" >&2; cat "$work/setup.out" >&2; exit 1; }

# The medium's 48 files into one folder, empty or beside 20,000 entries.
mkdir -p "$work/full"
python3 - "$work/full" <<'PY'
import os, sys
for i in range(20000):
    open(os.path.join(sys.argv[1], "Entry%05d.dat" % i), "wb").close()
PY
i=0
: >"$work/empty.list"
: >"$work/full.list"
while read -r f; do
    name=$(printf '%02d-%s' $i "$(basename "$f")")
    echo "$work/empty/$name" >>"$work/empty.list"
    echo "$work/full/$name" >>"$work/full.list"
    i=$((i + 1))
done <"$build/medium-src.list"
export PLAT_ROOT=$work/tool-machine
hyperfine --warmup 2 --runs 20 --export-json "$work/unpack.json" \
    --prepare "rm -rf '$work/empty' && mkdir '$work/empty' && sync" \
    --prepare "rm -f '$work/full/'[0-9][0-9]-* && sync" \
    --prepare "rm -rf '$work/empty' && mkdir '$work/empty' && sync" \
    --prepare "rm -f '$work/full/'[0-9][0-9]-* && sync" \
    -n "unpack into empty" "'$pkgtool' unpack '$build/medium/Install.pkg' '@$work/empty.list'" \
    -n "unpack into 20000" "'$pkgtool' unpack '$build/medium/Install.pkg' '@$work/full.list'" \
    -n "read of empty" "'$bin/hostfloor' read '$work/empty'" \
    -n "read of 20000" "'$bin/hostfloor' read '$work/full'"

python3 - "$work/takeover.json" "$work/unpack.json" <<'PY'
import json, sys
t = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
u = {r["command"]: r["mean"] for r in json.load(open(sys.argv[2]))["results"]}
cp, u0, u2, u20 = t["cp -a 20000"], t["upgrade 0"], t["upgrade 2000"], t["upgrade 20000"]
p2, p20 = (u2 - u0) / 2000, (u20 - u0) / 20000
ue, uf = u["unpack into empty"], u["unpack into 20000"]
floor = ue + u["read of 20000"] - u["read of empty"]
def v(ok): return "met" if ok else "NOT met"
print()
print(f"upgrade taking over 20000 files: {u20:.3f} s, cp -a {cp:.3f} s: {u20 / cp:.2f} x cp (target <= 2: {v(u20 <= 2 * cp)})")
print(f"time per file beyond the upgrade without files ({u0:.3f} s): {p2 * 1e6:.1f} us at 2000, {p20 * 1e6:.1f} us at 20000: "
      f"{p20 / p2:.2f} x (target <= 1.5: {v(p20 <= 1.5 * p2)})")
print(f"unpack of 48 files: into an empty folder {ue * 1000:.1f} ms, beside 20000 entries {uf * 1000:.1f} ms: "
      f"{uf / ue:.2f} x (target <= 1.2: {v(uf <= 1.2 * ue)})")
print(f"the empty unpack plus a bare read of the 20000 entries ({(floor - ue) * 1000:.1f} ms): {floor * 1000:.1f} ms, "
      f"{floor / ue:.2f} x the empty unpack; the unpack beside 20000 entries is {uf / floor:.2f} x it")
PY
