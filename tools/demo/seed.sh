# Sourced by scripts/run.sh after scripts/wine-env.sh, with WINEPREFIX set:
#   demo_seed DIR   install the demonstration programs built into DIR and
#                   import the demonstration notification area (once; again
#                   when the data or the programs change)

DEMO_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Where each demonstration program goes, under the folders Explorer's paths in
# notify-icons.reg name. The game launcher is missing from here on purpose.
DEMO_INSTALL=(
  "nwsync.exe|ProgramFiles|Northwind/Cloud Sync"
  "contoso-chat.exe|LOCALAPPDATA|Contoso/Chat"
  "fabaudio.exe|ProgramFiles|Fabrikam/Audio Control"
  "adatumvpn.exe|ProgramFiles|Adatum/VPN Client"
  "ladoga-notes.exe|ProgramFiles|Ладога/Заметки"
  "lwbackup.exe|ProgramFiles(x86)|Litware/Backup"
  "gwetter.exe|ProgramFiles|Gruenwald/Wetter"
  "wwi-tray.exe|ProgramFiles|Wide World Importers"
)
DEMO_MISSING="ProgramFiles|Tailspin Toys/Game Launcher/tslauncher.exe"
# The newer of the two Northwind Cloud Sync entries, and the tooltip that makes
# it newer (a value written with the data it holds already changes nothing).
DEMO_NEWER_TOOLTIP="Northwind Cloud Sync - up to date"
DEMO_NEWER_DUPLICATE='HKCU\Control Panel\NotifyIconSettings\12808377109214675503'
DEMO_KEY='HKCU\Control Panel\NotifyIconSettings'

# The Unix path of a folder named by a Windows environment variable.
demo_folder() {
  local windows unix
  windows=$("$WINE" cmd /c "echo %$1%" 2>/dev/null | tr -d '\r' || true)
  unix=$("$WINE" winepath -u "$windows" 2>/dev/null || true)
  if [ -z "$unix" ] || [ ! -d "$unix" ]; then
    echo "Wine has no folder for %$1% in $WINEPREFIX" >&2
    return 1
  fi
  printf '%s\n' "${unix%/}"
}

demo_seed() {
  local demo_dir=$1
  local reg="$DEMO_SOURCE_DIR/notify-icons.reg"
  local stamp="$WINEPREFIX/.merovane-demo"
  local entry exe var sub folder
  for entry in "${DEMO_INSTALL[@]}"; do
    exe=${entry%%|*}
    if [ ! -f "$demo_dir/$exe" ]; then
      echo "demonstration program $demo_dir/$exe is missing: build the demo_apps target" >&2
      return 1
    fi
  done
  local digest
  digest=$(cat "$reg" "${BASH_SOURCE[0]}" "$demo_dir"/*.exe | sha256sum | cut -d' ' -f1)
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$digest" ] && return 0

  echo "Seeding the demonstration notification area in $WINEPREFIX"
  for entry in "${DEMO_INSTALL[@]}"; do
    IFS='|' read -r exe var sub <<<"$entry"
    folder=$(demo_folder "$var") || return 1
    folder="$folder/$sub"
    mkdir -p "$folder"
    cp "$demo_dir/$exe" "$folder/"
  done
  IFS='|' read -r var sub <<<"$DEMO_MISSING"
  folder=$(demo_folder "$var") || return 1
  rm -f "$folder/$sub"

  # Without a byte order mark Wine reads a .reg file in the ANSI code page, so
  # the UTF-8 file goes in as UTF-16.
  local converted="$demo_dir/notify-icons.reg"
  { printf '\xff\xfe'; sed 's/$/\r/' "$reg" | iconv -f UTF-8 -t UTF-16LE; } >"$converted"
  if ! "$WINE" reg import "$(demo_windows_path "$converted")" >/dev/null 2>&1; then
    echo "importing $reg into $WINEPREFIX failed" >&2
    return 1
  fi
  # reg skips a value line it cannot parse and still succeeds: count what
  # arrived, entries and values.
  local expected found
  expected="$(grep -c '^\[HKEY_CURRENT_USER\\Control Panel\\NotifyIconSettings\\' "$reg" || true) entries,"
  expected+=" $(grep -c '^"[^"]*"=' "$reg" || true) values"
  found=$("$WINE" reg query "$DEMO_KEY" /s 2>/dev/null | tr -d '\r' |
          awk '/^HKEY_CURRENT_USER\\Control Panel\\NotifyIconSettings\\/ { keys++ }
               /^    [^ ]/ { values++ }
               END { printf "%d entries, %d values", keys, values }')
  if [ "$found" != "$expected" ]; then
    echo "$reg holds $expected, but $found arrived in the registry" >&2
    return 1
  fi
  # A second later, so the two entries of one program differ in their
  # last-write times and the newer one is the one to keep.
  sleep 1.5
  if ! "$WINE" reg add "$DEMO_NEWER_DUPLICATE" /v InitialTooltip /t REG_SZ /d "$DEMO_NEWER_TOOLTIP" /f >/dev/null 2>&1; then
    echo "could not write $DEMO_NEWER_DUPLICATE" >&2
    return 1
  fi

  demo_settings || return 1
  echo "$digest" >"$stamp"
}

# English texts and no update check at start, and two rules, unless the files
# exist already: then the program's own saves are kept.
demo_settings() {
  local file
  file=$(demo_folder APPDATA) || return 1
  file="$file/Merovane Developers/Merovane/Config/Option.ini"
  mkdir -p "$(dirname "$file")"
  # Two per-app rules: the chat app always shown, the backup program always
  # hidden.
  local rules
  rules="$(dirname "$file")/Rules.ini"
  [ -f "$rules" ] ||
    printf '[Rule1]\r\nFile=contoso-chat.exe\r\nCompany=Contoso, Ltd.\r\nFolder=%%LOCALAPPDATA%%\\Contoso\\Chat\r\nAction=Show\r\n\r\n[Rule2]\r\nFile=lwbackup.exe\r\nCompany=Litware, Inc.\r\nFolder=%%ProgramFiles%%\\Litware\\Backup\r\nAction=Hide\r\n' >"$rules"
  [ -f "$file" ] && return 0
  printf '[Option]\r\nCheckBoxAutoCheck=0\r\n\r\n[Language]\r\nLanguage=English\r\n\r\n' >"$file"
}

demo_windows_path() {
  "$WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'
}
