#!/usr/bin/env bash
# Builds the x86_64 program and starts it under Wine, in a prefix of its own
# (build/x86_64/run-prefix) so the tests' prefix stays untouched. The prefix
# holds a demonstration notification area: the entries of
# tools/demo/notify-icons.reg and the programs they name.
#
# With a display the program runs until it is closed. Without one it runs on
# Xvfb: once its main window is up the script saves a screenshot to
# build/screenshot.png and closes the program the way a user would.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 -j "$(nproc 2>/dev/null || echo 2)" --target Merovane demo_apps

. scripts/wine-env.sh
. tools/demo/seed.sh
trap wine_cleanup EXIT
wine_prefix_prepare "$PWD/build/x86_64/run-prefix"
display_start
headless=false
[ -n "$XVFB_PID" ] && headless=true
wine_start
demo_seed "$PWD/build/x86_64/demo"

# The program's windows live in Wine's virtual desktop (one X window), so the
# main window is looked for from inside Wine.
main_window_shown() {
  "$WINE" build/x86_64/tools/wait_window.exe TForm1 "$1" >/dev/null 2>&1
}

"$WINE" build/x86_64/bin/Merovane.exe &
program=$!

# Wait for the main window while the program runs: on our own Xvfb for at most
# a minute, on a real display for as long as it takes (the program may start
# hidden in the notification area and be opened later).
shown=false
deadline=$((SECONDS + 60))
while ! $shown && kill -0 "$program" 2>/dev/null; do
  if $headless && [ "$SECONDS" -ge "$deadline" ]; then
    break
  fi
  main_window_shown 2 && shown=true
done

screenshot="$PWD/build/screenshot.png"
if ! $shown; then
  if kill -0 "$program" 2>/dev/null; then
    import -window root "$screenshot"
    echo "the main window did not appear within 60 seconds; the screen: $screenshot" >&2
    exit 1
  fi
  status=0
  wait "$program" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "the program failed to start (exit code $status)" >&2
    exit 1
  fi
  echo "the program exited before showing its main window"
  exit 0
fi

if ! $headless; then
  status=0
  wait "$program" || status=$?
  exit "$status"
fi

# Let the list fill and the window paint before taking the picture.
sleep 3
import -window root "$screenshot"
echo "Screenshot: $screenshot"

# No /f: the main window gets WM_CLOSE, saves its settings and ends the
# program, as when the user closes it.
"$WINE" taskkill /im Merovane.exe >/dev/null 2>&1 || true
deadline=$((SECONDS + 20))
while kill -0 "$program" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
  sleep 0.5
done
if kill -0 "$program" 2>/dev/null; then
  echo "the program did not end within 20 seconds of being asked to close; stopping Wine" >&2
  wineserver -k >/dev/null 2>&1 || true
  wait "$program" 2>/dev/null || true
  exit 1
fi
status=0
wait "$program" || status=$?
exit "$status"
