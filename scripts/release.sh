#!/usr/bin/env bash
# Builds a release into dist/: the installer, the portable ZIP (64-bit, and a
# 32-bit one), version.txt, a .sig beside each package and SHA256SUMS.
#
#   scripts/release.sh [--key private.pem]     (or MEROVANE_SIGNING_KEY=...)
#
# The key is the release's EC private key (prime256v1, PEM). It never belongs
# in the repository; the program checks packages against the public key it
# was built with (resources/update-public-key.*). Without a key the packages
# are signed with a throw-away key, for trying the update path only: a copy
# built with the project's public key refuses them.
set -euo pipefail
cd "$(dirname "$0")/.."

key="${MEROVANE_SIGNING_KEY:-}"
while [ $# -gt 0 ]; do
  case "$1" in
    --key) key="$2"; shift 2 ;;
    *) echo "usage: scripts/release.sh [--key private.pem]" >&2; exit 2 ;;
  esac
done

scripts/setup.sh nsis openssl

# The version is set in one place: project() in CMakeLists.txt.
version=$(sed -n 's/^project(Merovane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
while [ "$(echo "$version" | tr -cd . | wc -c)" -lt 3 ]; do version="$version.0"; done

jobs=$(nproc 2>/dev/null || echo 2)
build() {  # build <arch>
  local dir="build/release-$1"
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$1-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DMEROVANE_BUILD_TESTS=OFF -DMEROVANE_BUILD_DEMO=OFF >/dev/null
  cmake --build "$dir" -j "$jobs" --target Merovane merovane_language >/dev/null
  echo "$dir/bin"
}
bin64=$(build x86_64)
bin32=$(build i686)

rm -rf dist
mkdir -p dist

# The portable packages: the program, its language files and the marker that
# keeps its settings beside it. Nothing the user owns.
python3 tools/make_portable_zip.py "$bin64" dist/Merovane.zip
python3 tools/make_portable_zip.py "$bin32" dist/Merovane-32-bit.zip

makensis -V2 -DVERSION="$version" -DSOURCE_DIR="$PWD/$bin64" -DICON="$PWD/resources/merovane.ico" \
  -DOUTFILE="$PWD/dist/Merovane-setup.exe" \
  installer/merovane.nsi

printf '%s' "$version" > dist/version.txt

if [ -z "$key" ]; then
  echo "No signing key given (--key or MEROVANE_SIGNING_KEY): signing with a throw-away key," \
       "for testing only." >&2
  key=$(mktemp)
  trap 'rm -f "$key"' EXIT
  openssl ecparam -name prime256v1 -genkey -noout -out "$key" 2>/dev/null
fi
python3 tools/sign_package.py --key "$key" --version "$version" \
  dist/Merovane-setup.exe dist/Merovane.zip dist/Merovane-32-bit.zip >/dev/null

(cd dist && sha256sum Merovane-setup.exe Merovane.zip Merovane-32-bit.zip version.txt *.sig > SHA256SUMS)
echo "Release $version in dist/:"
ls -l dist | awk 'NR > 1 {printf "  %-28s %9d bytes\n", $9, $5}'
