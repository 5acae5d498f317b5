#!/usr/bin/env bash
# test.sh quick|full - the two tiers of the tests:
#   quick  (make test) ctest in each of the four builds (linux, linux-asan, win64, win32): every test program
#          and every scenario in every column, the fault sweep over a sample of each scenario's calls
#          (faultsweep --sample). Prints each build's time, and at the end how many tests were skipped and
#          why. Every build's tests run even when an earlier build's failed. On a host that runs 32-bit
#          programs the Windows scenario table runs once here, in the column of the build we ship (wow64):
#          the tests labelled full-on-host32 (the win64 build's table and Wine runs, the 32-bit Windows
#          column) are left to the full tier, which keeps this tier within its 12 minutes.
#   full   (make full, CI, after the quick tier) the whole fault sweep, every call of every scenario failed
#          and cut off, each fuzz target for FUZZ_SECONDS (default 60), and on a host that runs 32-bit
#          programs the tests labelled full-on-host32.
# The builds must be there (make build). The exit code is 0 only when everything passed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 2
tier=${1:-}
case $tier in quick | full) ;; *) echo "usage: tools/test.sh quick|full" >&2 && exit 2 ;; esac

failed=()
times=()
skipped_lines=()
total=0

# Whether this host runs 32-bit programs: the win32 build's probe, once, before any build's tests.
host32=no
if ctest --preset win32 -R '^host32_probe$' >build/host32-probe.log 2>&1 && [ -f build/win32/host32 ]; then
    host32=$(head -n 1 build/win32/host32)
else
    cat build/host32-probe.log
    failed+=("host32_probe")
fi
# Where it does, the quick tier leaves the runs labelled full-on-host32 to the full tier.
presets=(linux linux-asan win64 win32)
select=()
if [ "$host32" = yes ]; then
    [ "$tier" = quick ] && select=(-LE full-on-host32)
    [ "$tier" = full ] && presets=(win64 win32) && select=(-L full-on-host32)
    echo "This host runs 32-bit programs: the tests labelled full-on-host32 run in the full tier."
else
    [ "$tier" = full ] && presets=()
fi
for p in ${presets[@]+"${presets[@]}"}; do
    log=build/$p/Testing/test-tier.log
    [ "$tier" = full ] && log=build/$p/Testing/test-full.log
    mkdir -p "build/$p/Testing"
    start=$(date +%s)
    ctest --preset "$p" ${select[@]+"${select[@]}"} 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    took=$(($(date +%s) - start))
    total=$((total + took))
    times+=("$p${select[0]:+ ${select[*]}} $took s")
    [ "$rc" -eq 0 ] || failed+=("$p")
    # CTest lists the tests that did not run, each with "(Skipped)" when it skipped itself.
    n=$(grep -c '^[[:space:]]*[0-9]* - .* (Skipped)$' "$log")
    if [ "$n" -gt 0 ]; then
        verdict=build/$p/host32
        if [ -f "$verdict" ] && [ "$(head -n 1 "$verdict")" = no ]; then
            skipped_lines+=("$p: $n tests skipped, all that run 32-bit Windows programs, because $(sed -n 2p "$verdict"). The checks of the 32-bit programs that need no 32-bit host (medium_static) ran.")
        else
            skipped_lines+=("$p: $n tests skipped themselves; each says why in its output (ctest --preset $p -V -R NAME).")
        fi
    fi
done

if [ "$tier" = full ]; then
    start=$(date +%s)
    echo "== the whole fault sweep"
    build/linux/bin/faultsweep build/linux || failed+=("faultsweep (whole)")
    echo "== fuzzing"
    fuzz/run.sh "${FUZZ_SECONDS:-60}" || failed+=("fuzzing")
    took=$(($(date +%s) - start))
    total=$((total + took))
    times+=("the whole sweep and the fuzzing $took s")
fi

echo
echo "Test time: $(printf '%s, ' "${times[@]}" | sed 's/, $//'); $total s in all."
for line in ${skipped_lines[@]+"${skipped_lines[@]}"}; do
    echo "Skipped: $line"
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "All tests passed ($tier tier)."
