#!/usr/bin/env bash
# Builds the x86_64 and i686 variants and runs every test under Wine.
# Usage: scripts/test.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
# A warning fails the build here, so none reaches the main branch.
cmake --preset x86_64 -DMEROVANE_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build --preset x86_64 -j "$jobs"
cmake --preset i686 -DMEROVANE_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build --preset i686 -j "$jobs"

. scripts/wine-env.sh
trap wine_cleanup EXIT
wine_prefix_prepare "$PWD/build/x86_64/wineprefix"
display_start
wine_start
ctest --preset x86_64 "$@"
