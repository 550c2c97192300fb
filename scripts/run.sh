#!/usr/bin/env bash
# Builds the x86_64 program and starts it under Wine, in a prefix of its own
# (build/x86_64/run-prefix) so the tests' prefix stays untouched.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 -j "$(nproc 2>/dev/null || echo 2)" --target Merovane

. scripts/wine-env.sh
trap wine_cleanup EXIT
wine_prefix_prepare "$PWD/build/x86_64/run-prefix"
display_start
"$WINE" build/x86_64/bin/Merovane.exe
