# Sourced by the other scripts: the Wine prefix and the display the program and
# the tests run in.
#   wine_prefix_prepare DIR   make DIR a Windows 11 prefix (once)
#   display_start             start Xvfb when there is no display
#   wine_start                keep one wineserver and the services running
#   wine_cleanup              stop the wineserver and Xvfb started here

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -x /usr/lib/wine/wine64 ]; then
  WINE=/usr/lib/wine/wine64
else
  WINE=wine
fi

wine_prefix_prepare() {
  export WINEPREFIX="$1"
  local stamp="$WINEPREFIX/.merovane-prefix-3"
  [ -f "$stamp" ] && return 0
  echo "Preparing the Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1
  # Wine reports Windows 7 by default; Windows 10 with build 22631 is what a
  # Windows 11 machine reports.
  "$WINE" winecfg -v win10 >/dev/null 2>&1
  local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
  "$WINE" reg add "$key" /v CurrentBuildNumber /t REG_SZ /d 22631 /f >/dev/null 2>&1
  "$WINE" reg add "$key" /v CurrentBuild /t REG_SZ /d 22631 /f >/dev/null 2>&1
  # A virtual desktop brings Wine's own taskbar with a notification area: the
  # program's icon has somewhere to live, and without one every icon call
  # waits two seconds for a tray that never answers.
  "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
  # Wine's own fonts (caption buttons, check marks, Tahoma) go where this Wine
  # looks for them: it does not read them from its data folder.
  if [ -d /usr/share/wine/fonts ]; then
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  wineserver -w
  touch "$stamp"
}

# One wineserver for the whole session, with Wine's background processes
# (services, the desktop) started here, detached from our output: started by
# the first test instead, they would hold ctest's output pipe open and ctest
# would wait for them until its timeout.
wine_start() {
  wineserver -p
  "$WINE" wineboot >/dev/null 2>&1 </dev/null
}

XVFB_PID=""
display_start() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      xdpyinfo >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    kill "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  done
  echo "could not start Xvfb" >&2
  return 1
}

wine_cleanup() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
  fi
}
