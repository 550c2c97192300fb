#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test Merovane.
# Idempotent, and silent when everything is already there. Extra package
# names given as arguments are installed too (the release script's).
set -euo pipefail

packages=(
  cmake make ccache python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  libz-mingw-w64-dev
  googletest
  wine wine64 fonts-wine
  xvfb xauth x11-utils imagemagick
  nsis openssl osslsigncode python3-yaml
)

packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
