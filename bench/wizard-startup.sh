#!/usr/bin/env bash
# wizard-startup.sh [RUNS] - the GUI front end's start-up: from process start to the wizard's first page
# drawn, beside a minimal FLTK window (bench/fltk_bare.cpp) drawn the same way, both on a private Xvfb
# display; then the peak memory of each. Needs the linux build (wizdemo, fltk_bare) and hyperfine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-40}
bin=$root/build/linux/bin
[ -x "$bin/wizdemo" ] && [ -x "$bin/fltk_bare" ] || { echo "build the linux preset first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/kalbench.XXXXXX")
display=:$((100 + RANDOM % 50))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do
    DISPLAY=$display xwininfo -root >/dev/null 2>&1 && break
    sleep 0.1
done
export DISPLAY=$display PLAT_UI=gui PLAT_BENCH_FIRST_DRAW=1 PLAT_ROOT=$work/machine

# The wizard's front end leaves the process as soon as the first page is on the screen.
hyperfine -N --warmup 5 --runs "$runs" --export-json "$work/times.json" \
    -n wizard "$bin/wizdemo" -n fltk-bare "$bin/fltk_bare" >/dev/null
python3 - "$work/times.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
w, b = r["wizard"], r["fltk-bare"]
for name, x in (("wizard", w), ("fltk-bare", b)):
    print(f"{name:10s} median {x['median']*1000:6.1f} ms  mean {x['mean']*1000:6.1f} ms  (min {x['min']*1000:.1f}, max {x['max']*1000:.1f})")
ratio = w["median"] / b["median"]
print(f"ratio      {ratio:.2f} x the bare window (target: at most 1.5 x, and under 100 ms)")
ok = ratio <= 1.5 and w["median"] < 0.100
sys.exit(0 if ok else 1)
PY
status=$?
for prog in wizdemo fltk_bare; do
    kb=$( { /usr/bin/time -f %M "$bin/$prog" 2>&1 >/dev/null; } | tail -1)
    printf '%-10s peak memory %5.1f MB\n' "$prog" "$(echo "$kb / 1024" | bc -l)"
done
exit $status
