#!/usr/bin/env bash
# run.sh [SECONDS] [TARGET...] - builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each for SECONDS (default 60, or $FUZZ_SECONDS), starting
# from its committed seeds in fuzz/corpus/<target>/. New inputs go to build/fuzz/corpus/<target>/, a finding
# to build/fuzz/artifacts/<target>/. Exits non-zero when a target finds anything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-60}}
shift $(($# > 0 ? 1 : 0))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_szdd fuzz_package fuzz_paths fuzz_hostile fuzz_sum)
build=$root/build/fuzz

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DKAL_ASAN=ON -DKAL_FUZZ=ON -DKAL_TESTS=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}"

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=()
for t in "${targets[@]}"; do
    name=${t#fuzz_}
    corpus=$build/corpus/$name
    artifacts=$build/artifacts/$name
    mkdir -p "$corpus" "$artifacts"
    echo "== $t for $seconds s"
    if ! (cd "$build" && "$build/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$root/fuzz/corpus/$name" \
        2>&1 | tail -25); then
        failed+=("$t")
    fi
    if ls "$artifacts"/* >/dev/null 2>&1; then
        echo "$t: findings in $artifacts"
        failed+=("$t")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing found problems: ${failed[*]}"
    exit 1
fi
echo "no findings"
