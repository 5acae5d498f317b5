#!/usr/bin/env bash
# demo.sh - runs the installer of the Linux build.
set -euo pipefail
cd "$(dirname "$0")/.."
exec build/linux/bin/setup
