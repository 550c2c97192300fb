#!/usr/bin/env bash
# Builds the installer from the test build's program and checks, under Wine:
# a silent per-user install (files, shortcut, the Uninstall entry), then a
# quiet uninstall that removes them and the Run value but keeps the settings;
# installed into a folder that already holds the user's files, the uninstall
# removes only what the installer put there.
# Usage: installer_test.sh <bin folder> <source folder>
set -euo pipefail
bin="$1"
src="$2"
WINE="${WINE:-wine}"
[ -x /usr/lib/wine/wine64 ] && WINE=/usr/lib/wine/wine64
command -v makensis >/dev/null || { echo "makensis missing: run scripts/setup.sh"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
makensis -V1 -DVERSION=9.8.7.6 -DSOURCE_DIR="$bin" -DICON="$src/resources/merovane.ico" \
  -DOUTFILE="$work/setup.exe" "$src/installer/merovane.nsi"

passed=0 failed=0
check() {  # check <description> <command...>
  if "${@:2}"; then passed=$((passed + 1)); else echo "FAILED: $1"; failed=$((failed + 1)); fi
}
reg_value() {  # reg_value <key> <name>: the value's data, or nothing
  "$WINE" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n {$1 = ""; $2 = ""; sub(/^ +/, ""); print}'
}
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Merovane'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
appdata=$("$WINE" cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
settings_unix=$("$WINE" winepath -u "$appdata\\Merovane Developers\\Merovane\\Config" 2>/dev/null)
target_win='C:\merovane-installer-test'
target_unix=$("$WINE" winepath -u "$target_win" 2>/dev/null)
rm -rf "$target_unix"

"$WINE" "$work/setup.exe" /SILENT /SUPPRESSMSGBOXES /LANG=Russian /D="$target_win"
check "program installed" test -f "$target_unix/Merovane.exe"
for file in "$src"/Language/*; do
  check "language file $(basename "$file") installed" test -f "$target_unix/Language/$(basename "$file")"
done
check "uninstaller written" test -f "$target_unix/Uninstall.exe"
check "version in the Uninstall entry" test "$(reg_value "$uninstall_key" DisplayVersion)" = "9.8.7.6"
check "quiet uninstall string" test "$(reg_value "$uninstall_key" QuietUninstallString)" = "\"$target_win\\Uninstall.exe\" /S"

# What the program adds and the user owns, as a user of it would have them.
"$WINE" reg add "$run_key" /v Merovane /d "\"$target_win\\Merovane.exe\"" /f >/dev/null 2>&1
mkdir -p "$settings_unix"
printf '[Option]\r\nThemeDark=1\r\n' > "$settings_unix/Option.ini"

"$WINE" "$target_unix/Uninstall.exe" /S
# The uninstaller runs on from a copy of itself; wait for it to finish.
for _ in $(seq 1 100); do [ -e "$target_unix" ] || break; sleep 0.2; done
check "program folder removed" test ! -e "$target_unix"
check "Uninstall entry removed" test -z "$(reg_value "$uninstall_key" DisplayName)"
check "Run value removed" test -z "$(reg_value "$run_key" Merovane)"
check "settings kept" test -f "$settings_unix/Option.ini"
rm -rf "$settings_unix"

# A folder the user chose that already holds files of theirs, a language file among them.
mkdir -p "$target_unix/Language"
printf '[Language information]\r\nLANGNAME=Mine\r\n' > "$target_unix/Language/Mine.ini"
printf 'notes\r\n' > "$target_unix/notes.txt"
"$WINE" "$work/setup.exe" /S /D="$target_win"
check "installed beside the user's files" test -f "$target_unix/Language/English.ini"
"$WINE" "$target_unix/Uninstall.exe" /S
for _ in $(seq 1 100); do [ -e "$target_unix/Uninstall.exe" ] || break; sleep 0.2; done
sleep 1
check "program removed from the shared folder" test ! -e "$target_unix/Merovane.exe"
check "uninstaller removed from the shared folder" test ! -e "$target_unix/Uninstall.exe"
check "shipped language file removed" test ! -e "$target_unix/Language/English.ini"
check "the user's language file kept" test -f "$target_unix/Language/Mine.ini"
check "the user's other file kept" test -f "$target_unix/notes.txt"
rm -rf "$target_unix"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
