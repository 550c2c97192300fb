#!/usr/bin/env bash
# Builds the benchmark and runs it under Wine, against a scratch registry key.
# Usage: scripts/bench.sh [--sizes 100,1000,5000] [--runs N] [--idle-seconds S]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 -j "$(nproc 2>/dev/null || echo 2)" --target merovane_bench

. scripts/wine-env.sh
trap wine_cleanup EXIT
wine_prefix_prepare "$PWD/build/x86_64/wineprefix"
display_start
wine_start
"$WINE" build/x86_64/bench/merovane_bench.exe "$@"
