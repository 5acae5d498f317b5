# common.sh - sourced by the benchmarks: the programs of the linux build, a work folder on the disk the
# benchmark measures, and the generators of test data.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# KAL_BENCH_BUILD: another Linux build folder than build/linux.
build=${KAL_BENCH_BUILD:-$root/build/linux}
bin=$build/bin
pkgtool=$bin/pkgtool
if [ ! -x "$pkgtool" ]; then
    echo "build first: cmake --preset linux && cmake --build --preset linux" >&2
    exit 2
fi
for p in hyperfine /usr/bin/time; do
    command -v "$p" >/dev/null || { echo "missing: $p (apt-get install hyperfine time)" >&2; exit 2; }
done

# bench_dir NAME [DIR]: the work folder (DIR, or build/bench/NAME), made empty; also the machine of pkgtool.
bench_dir() {
    local dir=${2:-$root/build/bench/$1}
    rm -rf "$dir"
    mkdir -p "$dir"
    work=$(cd "$dir" && pwd)
    export PLAT_ROOT=$work/machine
}

# make_file PATH BYTES KIND: KIND random or zeros.
make_file() {
    case $3 in
    random) head -c "$2" /dev/urandom >"$1" ;;
    zeros) head -c "$2" /dev/zero >"$1" ;;
    esac
}

# mean_of JSON NAME: a command's mean time in seconds from hyperfine's export.
mean_of() {
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print([r["mean"] for r in d["results"] if r["command"]==sys.argv[2]][0])' "$1" "$2"
}

# peak_kb COMMAND...: the command's peak resident memory in KiB.
peak_kb() {
    /usr/bin/time -f '%M' -o "$work/time.out" "$@" >/dev/null
    cat "$work/time.out"
}
