#!/usr/bin/env bash
# host-package.sh OUT - the demo medium's package for a Windows build: made by the linux build (configured
# and built here if need be, its tools run on this machine) and copied to OUT.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$1
if [ ! -f build/linux/build.ninja ]; then
    cmake --preset linux >/dev/null
fi
cmake --build build/linux --target medium
mkdir -p "$(dirname "$out")"
cp build/linux/medium/Install.pkg "$out"
