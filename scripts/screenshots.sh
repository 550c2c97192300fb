#!/usr/bin/env bash
# Screenshots of the main window, of the settings dialog, of the update
# dialog (after a check against a server on 127.0.0.1 that offers 1.0.1.0), of
# the general menu and of the list's menu in the light and in the dark style,
# taken under Xvfb in the demonstration prefix:
#   build/screenshots/{main,settings,update,menu,entrymenu}-{light,dark}.png
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

# The update server: version.txt under /download/Merovane/ on a free port of
# 127.0.0.1, served from here for as long as the script runs.
site="$PWD/build/x86_64/update-site"
mkdir -p "$site/download/Merovane"
printf '1.0.1.0\r\n' >"$site/download/Merovane/version.txt"
rm -f "$site/port"
python3 - "$site" <<'PY' &
import functools, http.server, sys
site = sys.argv[1]
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=site)
server = http.server.HTTPServer(("127.0.0.1", 0), handler)
with open(site + "/port", "w") as port:
    port.write(str(server.server_address[1]))
server.serve_forever()
PY
update_server=$!
trap 'kill "$update_server" 2>/dev/null; wine_cleanup' EXIT
for _ in $(seq 1 50); do [ -s "$site/port" ] && break; sleep 0.1; done
update_url="http://127.0.0.1:$(cat "$site/port")/download/"

for style in light dark; do
  for window in main settings update menu entrymenu; do
    "$WINE" build/x86_64/tools/showcase.exe "$style" "$window" "$update_url" &
    showcase=$!
    class=TForm1
    [ "$window" = settings ] && class=TForm2
    [ "$window" = update ] && class=TForm10
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
