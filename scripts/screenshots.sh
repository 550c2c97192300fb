#!/usr/bin/env bash
# Screenshots of the main window and of the settings dialog in the light and
# in the dark style, taken under Xvfb in the demonstration prefix:
#   build/screenshots/{main,settings}-{light,dark}.png
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 -j "$(nproc 2>/dev/null || echo 2)" --target Merovane demo_apps showcase

. scripts/wine-env.sh
. tools/demo/seed.sh
trap wine_cleanup EXIT
wine_prefix_prepare "$PWD/build/x86_64/run-prefix"
unset DISPLAY # always our own Xvfb, so the pictures hold nothing else
display_start
wine_start
demo_seed "$PWD/build/x86_64/demo"

out="$PWD/build/screenshots"
mkdir -p "$out"
for style in light dark; do
  for window in main settings; do
    "$WINE" build/x86_64/tools/showcase.exe "$style" "$window" &
    showcase=$!
    class=TForm1
    [ "$window" = settings ] && class=TForm2
    if ! "$WINE" build/x86_64/tools/wait_window.exe "$class" 60 >/dev/null 2>&1; then
      echo "the $window window did not appear ($style)" >&2
      exit 1
    fi
    sleep 3
    import -window root "$out/$window-$style.png"
    echo "$out/$window-$style.png"
    "$WINE" taskkill /im showcase.exe >/dev/null 2>&1 || true
    for _ in $(seq 1 40); do
      kill -0 "$showcase" 2>/dev/null || break
      sleep 0.5
    done
    kill -0 "$showcase" 2>/dev/null && { wineserver -k; wine_start; }
    wait "$showcase" 2>/dev/null || true
  done
done
