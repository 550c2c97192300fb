#!/usr/bin/env bash
# Builds a release into dist/: the installer, the portable ZIP (64-bit, and a
# 32-bit one), version.txt, a .sig beside each package, SHA256SUMS, the
# winget manifests in dist/winget/ and the Group Policy templates
# (Merovane-policies.zip: Merovane.admx and <culture>\Merovane.adml).
#
#   scripts/release.sh --key release-key.pem \
#       --primary-server https://updates.example.org/download/ \
#       --fallback-server https://mirror.example.org/download/ \
#       --download-base 'https://downloads.example.org/merovane/{version}/' \
#       [--release-notes URL] \
#       [--cert code-signing.pfx --cert-password-file FILE | --cert-pem CERT --cert-key KEY \
#        [--cert-password-file FILE]] [--timestamp URL]
#   scripts/release.sh --test-release [certificate options]
#
# Or as environment variables: MEROVANE_SIGNING_KEY, MEROVANE_PRIMARY_SERVER,
# MEROVANE_FALLBACK_SERVER, MEROVANE_DOWNLOAD_BASE, MEROVANE_RELEASE_NOTES,
# MEROVANE_CERT, MEROVANE_CERT_PASSWORD_FILE, MEROVANE_CERT_PEM,
# MEROVANE_CERT_KEY, MEROVANE_TIMESTAMP.
#
# The key is the release's EC private key (prime256v1, PEM), kept off the
# repository. The program is built with its public key and the two servers,
# and every .sig written is checked against the key in the built programs. A
# real release refuses to be made without them, or with a server on the
# reserved .example domain. --test-release builds with the placeholder key
# and the .example servers and signs with a throw-away key: such a build
# cannot install updates, and says so. {version} in the download base is
# replaced by the release's version. --build-dir and --dist choose other
# folders than build/ and dist/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

key="${MEROVANE_SIGNING_KEY:-}"
primary="${MEROVANE_PRIMARY_SERVER:-}"
fallback="${MEROVANE_FALLBACK_SERVER:-}"
download_base="${MEROVANE_DOWNLOAD_BASE:-}"
release_notes="${MEROVANE_RELEASE_NOTES:-}"
cert="${MEROVANE_CERT:-}"
cert_password_file="${MEROVANE_CERT_PASSWORD_FILE:-}"
cert_pem="${MEROVANE_CERT_PEM:-}"
cert_key="${MEROVANE_CERT_KEY:-}"
timestamp="${MEROVANE_TIMESTAMP:-}"
test_release=0
build_root="$root/build"
dist="$root/dist"

usage() {
  sed -n '6,13p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
fail() { echo "release.sh: $*" >&2; exit 1; }

while [ $# -gt 0 ]; do
  case "$1" in
    --test-release) test_release=1; shift ;;
    --key|--primary-server|--fallback-server|--download-base|--release-notes|--cert|\
    --cert-password-file|--cert-pem|--cert-key|--timestamp|--build-dir|--dist)
      [ $# -ge 2 ] || usage
      case "$1" in
        --key) key="$2" ;;
        --primary-server) primary="$2" ;;
        --fallback-server) fallback="$2" ;;
        --download-base) download_base="$2" ;;
        --release-notes) release_notes="$2" ;;
        --cert) cert="$2" ;;
        --cert-password-file) cert_password_file="$2" ;;
        --cert-pem) cert_pem="$2" ;;
        --cert-key) cert_key="$2" ;;
        --timestamp) timestamp="$2" ;;
        --build-dir) build_root="$2" ;;
        --dist) dist="$2" ;;
      esac
      shift 2 ;;
    *) usage ;;
  esac
done
# Files are named from where the command was given.
for name in key cert cert_password_file cert_pem cert_key build_root dist; do
  [ -z "${!name}" ] || printf -v "$name" '%s' "$(realpath -m -- "${!name}")"
done
cd "$root"

# A server the program asks: http(s), ending in /, not on the reserved domain.
check_url() {  # check_url <option> <url>
  [ -n "$2" ] || fail "$1 is required for a release (or make a --test-release)"
  [[ "$2" =~ ^https?://[^/?#]+/([^?#]*/)?$ ]] || fail "$1 must be an http:// or https:// URL ending in /: $2"
  local host="${2#*://}"
  host="${host%%/*}"
  host="${host%%:*}"
  [[ "${host,,}" =~ (^|\.)example\.?$ ]] && fail "$1 is on the reserved .example domain: $2"
  return 0
}

if [ "$test_release" = 1 ]; then
  [ -z "$key" ] || fail "--test-release signs with a throw-away key; it takes no --key"
  [ -n "$download_base" ] || download_base='https://downloads.merovane.example/{version}/'
else
  [ -n "$key" ] || fail "--key is required for a release (or make a --test-release)"
  [ -f "$key" ] || fail "no signing key at $key"
  check_url --primary-server "$primary"
  check_url --fallback-server "$fallback"
  check_url --download-base "$download_base"
  [ -z "$release_notes" ] || [[ "$release_notes" =~ ^https?:// ]] || fail "--release-notes must be a URL"
  if git ls-files --error-unmatch -- "$key" >/dev/null 2>&1; then
    fail "the signing key $key is in the repository; move it out and make a new one"
  fi
fi

signing=""
if [ -n "$cert" ] || [ -n "$cert_pem" ] || [ -n "$cert_key" ]; then
  if [ -n "$cert" ]; then
    [ -z "$cert_pem$cert_key" ] || fail "give --cert or --cert-pem with --cert-key, not both"
    [ -f "$cert" ] || fail "no certificate at $cert"
    [ -n "$cert_password_file" ] || fail "--cert needs --cert-password-file"
    cert_args=(-pkcs12 "$cert")
  else
    [ -f "$cert_pem" ] && [ -f "$cert_key" ] || fail "--cert-pem and --cert-key both name existing files"
    cert_args=(-certs "$cert_pem" -key "$cert_key")
  fi
  if [ -n "$cert_password_file" ]; then
    [ -f "$cert_password_file" ] || fail "no password file at $cert_password_file"
    cert_args+=(-readpass "$cert_password_file")
  fi
  [ -z "$timestamp" ] || cert_args+=(-ts "$timestamp")
  signing=1
fi

scripts/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The version is set in one place: project() in CMakeLists.txt.
version=$(sed -n 's/^project(Merovane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt"
while [ "$(echo "$version" | tr -cd . | wc -c)" -lt 3 ]; do version="$version.0"; done
download_base="${download_base//\{version\}/$version}"

# The public key the program is built with comes from the signing key itself.
placeholder="$root/resources/update-public-key.pem"
if [ "$test_release" = 1 ]; then
  key="$work/throw-away-key.pem"
  openssl ecparam -name prime256v1 -genkey -noout -out "$key" 2>/dev/null
  public_key=$placeholder
  comments="Test release, not for publishing: this build cannot install updates."
  servers=(-UMEROVANE_PRIMARY_UPDATE_SERVER -UMEROVANE_FALLBACK_UPDATE_SERVER)
else
  mkdir -p "$build_root"
  public_key="$build_root/release-public-key.pem"
  openssl ec -in "$key" -pubout -out "$public_key" 2>/dev/null ||
    fail "$key is not an EC private key in PEM form"
  cmp -s "$public_key" "$placeholder" && fail "the signing key is the placeholder's"
  comments=""
  servers=(-DMEROVANE_PRIMARY_UPDATE_SERVER="$primary" -DMEROVANE_FALLBACK_UPDATE_SERVER="$fallback")
fi

jobs=$(nproc 2>/dev/null || echo 2)
build() {  # build <arch>
  local dir="$build_root/release-$1"
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$1-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DMEROVANE_BUILD_TESTS=OFF -DMEROVANE_BUILD_DEMO=OFF -DMEROVANE_BUILD_BENCH=OFF \
    -DMEROVANE_UPDATE_PUBLIC_KEY="$public_key" -DMEROVANE_VERSION_COMMENTS="$comments" "${servers[@]}" \
    >/dev/null || fail "configuring the $1 build failed (is $key a P-256 key?)"
  cmake --build "$dir" -j "$jobs" --target Merovane merovane_language >/dev/null
  echo "$dir/bin"
}
# What is shipped is copied out of the builds, so signing never touches them.
stage() {  # stage <bin folder> <name>
  mkdir -p "$work/$2/Language"
  cp "$1/Merovane.exe" "$work/$2/"
  cp "$1"/Language/*.ini "$work/$2/Language/"
  echo "$work/$2"
}
built64=$(build x86_64)
built32=$(build i686)
bin64=$(stage "$built64" bin64)
bin32=$(stage "$built32" bin32)

# Authenticode: signs a file in place, for the programs here and for makensis.
if [ -n "$signing" ]; then
  {
    echo '#!/usr/bin/env bash'
    echo 'set -euo pipefail'
    printf 'osslsigncode sign'
    printf ' %q' "${cert_args[@]}" -h sha256 -n Merovane
    echo ' -in "$1" -out "$1.signed" >/dev/null'
    echo 'mv -f "$1.signed" "$1"'
  } > "$work/authenticode.sh"
  chmod +x "$work/authenticode.sh"
  "$work/authenticode.sh" "$bin64/Merovane.exe"
  "$work/authenticode.sh" "$bin32/Merovane.exe"
  nsis_signing=(-DSIGN_COMMAND="$work/authenticode.sh")
else
  nsis_signing=()
fi

rm -rf "$dist"
mkdir -p "$dist"

# The portable packages: the program, its language files and the marker that
# keeps its settings beside it. Nothing the user owns.
python3 tools/make_portable_zip.py "$bin64" "$dist/Merovane.zip"
python3 tools/make_portable_zip.py "$bin32" "$dist/Merovane-32-bit.zip"

makensis -V2 -DVERSION="$version" -DSOURCE_DIR="$bin64" -DICON="$root/resources/merovane.ico" \
  -DOUTFILE="$dist/Merovane-setup.exe" "${nsis_signing[@]}" \
  installer/merovane.nsi

printf '%s' "$version" > "$dist/version.txt"

# Group Policy templates, laid out as PolicyDefinitions wants them.
python3 - "$root/installer/policies" "$dist/Merovane-policies.zip" <<'EOF_ZIP'
import pathlib, sys, zipfile
folder, target = pathlib.Path(sys.argv[1]), sys.argv[2]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
    archive.write(folder / "Merovane.admx", "Merovane.admx")
    for adml in sorted(folder.glob("*/Merovane.adml")):
        archive.write(adml, adml.parent.name + "/Merovane.adml")
EOF_ZIP

packages=("$dist/Merovane-setup.exe" "$dist/Merovane.zip" "$dist/Merovane-32-bit.zip")
python3 tools/sign_package.py --key "$key" --version "$version" "${packages[@]}" >/dev/null
# Each .sig as the programs will check it: against the key built into them.
if [ "$test_release" = 1 ]; then
  openssl ec -in "$key" -pubout -out "$work/throw-away-key.pub.pem" 2>/dev/null
  python3 tools/verify_package.py --public-key "$work/throw-away-key.pub.pem" --version "$version" \
    "${packages[@]}" >/dev/null || fail "a .sig does not check"
else
  python3 tools/verify_package.py --built-into "$bin64/Merovane.exe" --built-into "$bin32/Merovane.exe" \
    --version "$version" "${packages[@]}" >/dev/null ||
    fail "a .sig does not check against the key built into the program: nothing to publish"
fi

# winget: a multi-file manifest set whose names, publisher and version are
# the ones the installer writes into its uninstall entry, so winget finds the
# copy it installed (and one the program updated) in the list of apps.
nsi_define() { sed -n "s/^!define $1 \"\\(.*\\)\"\$/\\1/p" installer/merovane.nsi; }
app=$(nsi_define APP)
publisher=$(nsi_define PUBLISHER)
product_code=$(nsi_define UNINSTALL_KEY)
product_code="${product_code##*\\}"
product_code="${product_code//\$\{APP\}/$app}"
identifier="${publisher// /}.$app"
installer_sha=$(sha256sum "$dist/Merovane-setup.exe" | cut -d' ' -f1 | tr a-f A-F)
schema=1.12.0
mkdir -p "$dist/winget"
manifest() {  # manifest <file> <type>: the header and the lines every file has, then stdin
  {
    echo "# yaml-language-server: \$schema=https://aka.ms/winget-manifest.$2.$schema.schema.json"
    echo "PackageIdentifier: $identifier"
    echo "PackageVersion: $version"
    cat
    echo "ManifestType: $2"
    echo "ManifestVersion: $schema"
  } > "$dist/winget/$1"
}
manifest "$identifier.yaml" version <<EOF
DefaultLocale: en-US
EOF
manifest "$identifier.installer.yaml" installer <<EOF
MinimumOSVersion: 10.0.22000.0
InstallerType: nullsoft
Scope: user
InstallModes:
- interactive
- silent
- silentWithProgress
UpgradeBehavior: install
ProductCode: '$product_code'
AppsAndFeaturesEntries:
- DisplayName: '$app'
  Publisher: '$publisher'
  DisplayVersion: '$version'
  ProductCode: '$product_code'
Installers:
- Architecture: x64
  InstallerUrl: '${download_base}Merovane-setup.exe'
  InstallerSha256: $installer_sha
EOF
manifest "$identifier.locale.en-US.yaml" defaultLocale <<EOF
PackageLocale: en-US
Publisher: '$publisher'
PackageName: '$app'
License: Proprietary
ShortDescription: Shows or hides the notification-area icons of Windows 11, one by one or by rule.
${release_notes:+ReleaseNotesUrl: '$release_notes'}
EOF
sed -i '/^$/d' "$dist/winget/$identifier.locale.en-US.yaml"

(cd "$dist" && sha256sum Merovane-setup.exe Merovane.zip Merovane-32-bit.zip version.txt *.sig > SHA256SUMS)

echo "Release $version in $dist:"
(cd "$dist" && find . -type f | sort | while read -r file; do
  printf '  %-48s %9d bytes\n' "${file#./}" "$(stat -c %s "$file")"
done)
if [ "$test_release" = 1 ]; then
  echo "TEST RELEASE, not for publishing: built with the placeholder update key and the .example" \
       "servers, signed with a throw-away key. This build cannot install updates."
else
  echo "Update key: built from $key; every .sig checks against it. Servers: $primary, $fallback."
fi
if [ -n "$signing" ]; then
  echo "Authenticode: both programs, the uninstaller and the installer are signed${timestamp:+ and timestamped}."
else
  echo "No code-signing certificate given (--cert or --cert-pem): the binaries are unsigned," \
       "and Windows warns about them."
fi
