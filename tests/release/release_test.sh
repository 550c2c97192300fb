#!/usr/bin/env bash
# Makes releases with scripts/release.sh as a maintainer would, with a signing
# key, a self-signed code-signing certificate and servers made up here, and
# checks: what it refuses; that every .sig checks against the key built into
# the programs; that osslsigncode accepts the signature of both programs, the
# installer and the uninstaller inside it (installed under Wine); that the
# winget manifests are complete and match what the installer writes into the
# registry; and that a test release says what it is, in its output and in its
# version resource.
# The builds go where a maintainer's go (build/release-<arch>), so the cache
# shares their objects with the other builds.
# Usage: release_test.sh <source folder>
set -euo pipefail
src="$1"
WINE="${WINE:-wine}"
[ -x /usr/lib/wine/wine64 ] && WINE=/usr/lib/wine/wine64
for tool in makensis openssl osslsigncode python3; do
  command -v "$tool" >/dev/null || { echo "$tool missing: run scripts/setup.sh"; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
release=("$src/scripts/release.sh")

passed=0 failed=0
check() {  # check <description> <command...>
  if "${@:2}"; then passed=$((passed + 1)); else echo "FAILED: $1"; failed=$((failed + 1)); fi
}
contains() { grep -qF -- "$2" <<<"$1"; }

# Inputs a maintainer keeps off the repository.
openssl ecparam -name prime256v1 -genkey -noout -out "$tmp/release-key.pem" 2>/dev/null
openssl ec -in "$tmp/release-key.pem" -pubout -out "$tmp/release-key.pub.pem" 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Merovane Test Publisher" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
  -keyout "$tmp/cert-key.pem" -out "$tmp/cert.pem" 2>/dev/null
printf 'test-password' > "$tmp/cert-password"
openssl pkcs12 -export -in "$tmp/cert.pem" -inkey "$tmp/cert-key.pem" -passout "file:$tmp/cert-password" \
  -out "$tmp/cert.pfx"
primary=https://updates.merovane.test/download/
fallback=http://127.0.0.1:8765/download/
base='https://downloads.merovane.test/{version}/'
servers=(--primary-server "$primary" --fallback-server "$fallback" --download-base "$base")

# Refused before anything is built.
refusals=(
  "--key is required|"
  "--primary-server is required|--key $tmp/release-key.pem"
  "reserved .example domain|--key $tmp/release-key.pem --primary-server http://update.merovane.example/download/ --fallback-server $fallback --download-base $base"
  "reserved .example domain|--key $tmp/release-key.pem --primary-server $primary --fallback-server https://Mirror.Merovane.EXAMPLE:8080/d/ --download-base $base"
  "ending in /|--key $tmp/release-key.pem --primary-server https://updates.merovane.test/download --fallback-server $fallback --download-base $base"
  "--download-base is required|--key $tmp/release-key.pem --primary-server $primary --fallback-server $fallback"
  "not an EC private key|--key $tmp/cert.pem ${servers[*]}"
  "takes no --key|--test-release --key $tmp/release-key.pem"
  "--cert needs --cert-password-file|--key $tmp/release-key.pem ${servers[*]} --cert $tmp/cert.pfx"
)
for refusal in "${refusals[@]}"; do
  expected="${refusal%%|*}"
  read -r -a arguments <<<"${refusal#*|}"
  if output=$(env -u MEROVANE_SIGNING_KEY "${release[@]}" --dist "$tmp/refused" "${arguments[@]}" 2>&1); then
    check "refused: ${refusal#*|}" false
  else
    check "refused with '$expected': $output" contains "$output" "$expected"
  fi
done
check "nothing written when refused" test ! -e "$tmp/refused/Merovane-setup.exe"

# A release, signed with the certificate as a PKCS#12 file.
dist="$tmp/dist"
output=$("${release[@]}" --dist "$dist" --key "$tmp/release-key.pem" "${servers[@]}" \
  --release-notes https://merovane.test/notes --cert "$tmp/cert.pfx" --cert-password-file "$tmp/cert-password")
echo "$output"
version=$(cat "$dist/version.txt")
packages=("$dist/Merovane-setup.exe" "$dist/Merovane.zip" "$dist/Merovane-32-bit.zip")
check "the release says it is signed" contains "$output" "Authenticode: both programs"
check "every .sig checks against the signing key" \
  python3 "$src/tools/verify_package.py" --public-key "$tmp/release-key.pub.pem" --version "$version" "${packages[@]}"
mkdir -p "$tmp/zip64" "$tmp/zip32"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$dist/Merovane.zip" "$tmp/zip64"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$dist/Merovane-32-bit.zip" "$tmp/zip32"
# The key and the servers are in the programs shipped.
for program in "$tmp/zip64/Merovane.exe" "$tmp/zip32/Merovane.exe"; do
  check "$program carries the release's public key and servers" \
    python3 - "$program" "$tmp/release-key.pub.pem" "$primary" "$fallback" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
body = b"".join(line for line in open(sys.argv[2], "rb").read().split(b"\n") if line and not line.startswith(b"-"))
key = b"-----BEGIN PUBLIC KEY-----\n" + body + b"\n-----END PUBLIC KEY-----\n"
sys.exit(0 if key in data and all(url.encode("utf-16-le") in data for url in sys.argv[3:5]) else 1)
EOF
done

verify() { osslsigncode verify -CAfile "$tmp/cert.pem" -in "$1" >/dev/null 2>&1; }
signed_by_test_publisher() {
  osslsigncode verify -CAfile "$tmp/cert.pem" -in "$1" 2>/dev/null | grep -q "CN=Merovane Test Publisher"
}
for file in "$dist/Merovane-setup.exe" "$tmp/zip64/Merovane.exe" "$tmp/zip32/Merovane.exe"; do
  check "Authenticode signature of $(basename "$(dirname "$file")")/$(basename "$file")" verify "$file"
  check "signed by the test publisher: $file" signed_by_test_publisher "$file"
done

# Installed under Wine: the uninstaller it writes is signed, and the uninstall
# entry is what the winget manifests say.
reg_value() {  # reg_value <key> <name>: the value's data, or nothing
  "$WINE" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n {$1 = ""; $2 = ""; sub(/^ +/, ""); print}'
}
target_win='C:\merovane-release-test'
target_unix=$("$WINE" winepath -u "$target_win" 2>/dev/null)
rm -rf "$target_unix"
"$WINE" "$dist/Merovane-setup.exe" /S /D="$target_win"
check "installed" test -f "$target_unix/Merovane.exe"
check "the uninstaller inside the installer is signed" verify "$target_unix/Uninstall.exe"
check "the installed program is the signed one" verify "$target_unix/Merovane.exe"
check "the policy templates are packed" python3 - "$dist/Merovane-policies.zip" "$src/installer/policies" <<'EOF'
import pathlib, sys, zipfile
names = set(zipfile.ZipFile(sys.argv[1]).namelist())
folder = pathlib.Path(sys.argv[2])
# Zip names use "/": every extractor makes <culture>\Merovane.adml of them.
wanted = {"Merovane.admx"} | {p.parent.name + "/Merovane.adml" for p in folder.glob("*/Merovane.adml")}
sys.exit(0 if names == wanted and "en-US/Merovane.adml" in names else f"{sorted(names)} != {sorted(wanted)}")
EOF
winget="$dist/winget"
identifier=MerovaneDevelopers.Merovane
product_code=$(python3 -c 'import sys, yaml; print(yaml.safe_load(open(sys.argv[1]))["ProductCode"])' \
  "$winget/$identifier.installer.yaml" 2>/dev/null || true)
uninstall_key="HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code"
check "the product code names the installer's uninstall entry" test -n "$(reg_value "$uninstall_key" UninstallString)"
check "winget manifests" python3 - "$winget" "$identifier" "$version" "$dist/Merovane-setup.exe" \
  "https://downloads.merovane.test/$version/Merovane-setup.exe" \
  "$(reg_value "$uninstall_key" DisplayName)" "$(reg_value "$uninstall_key" Publisher)" \
  "$(reg_value "$uninstall_key" DisplayVersion)" <<'EOF'
import hashlib, pathlib, sys, yaml
folder, identifier, version, installer, url, name, publisher, display_version = sys.argv[1:]
folder = pathlib.Path(folder)
files = {"version": f"{identifier}.yaml", "installer": f"{identifier}.installer.yaml",
         "defaultLocale": f"{identifier}.locale.en-US.yaml"}
assert sorted(p.name for p in folder.iterdir()) == sorted(files.values()), list(folder.iterdir())
required = {
    "version": ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"],
    "installer": ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"],
    "defaultLocale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName",
                      "License", "ShortDescription", "ManifestType", "ManifestVersion"],
}
manifests = {}
for kind, file in files.items():
    text = (folder / file).read_text(encoding="utf-8")
    assert text.startswith(f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.1.12.0"), file
    manifest = yaml.safe_load(text)
    missing = [field for field in required[kind] if not manifest.get(field)]
    assert not missing, (file, missing)
    assert manifest["ManifestType"] == kind and manifest["ManifestVersion"] == "1.12.0", file
    assert manifest["PackageIdentifier"] == identifier and manifest["PackageVersion"] == version, file
    assert all(isinstance(value, (str, list)) for value in manifest.values()), (file, manifest)
    manifests[kind] = manifest
assert manifests["version"]["DefaultLocale"] == manifests["defaultLocale"]["PackageLocale"] == "en-US"
locale = manifests["defaultLocale"]
assert locale["PackageName"] == name and locale["Publisher"] == publisher, locale
assert locale["ReleaseNotesUrl"] == "https://merovane.test/notes", locale
setup = manifests["installer"]
assert setup["InstallerType"] == "nullsoft" and setup["Scope"] == "user", setup
assert "InstallerSwitches" not in setup, "the NSIS defaults /S and /D= are what winget passes"
entry, = setup["AppsAndFeaturesEntries"]
assert entry == {"DisplayName": name, "Publisher": publisher, "DisplayVersion": display_version,
                 "ProductCode": setup["ProductCode"]}, (entry, name, publisher, display_version)
assert display_version == version, (display_version, version)
package, = setup["Installers"]
assert package["Architecture"] == "x64" and package["InstallerUrl"] == url, package
assert package["InstallerSha256"].lower() == hashlib.sha256(open(installer, "rb").read()).hexdigest(), package
EOF
"$WINE" "$target_unix/Uninstall.exe" /S
for _ in $(seq 1 100); do [ -e "$target_unix" ] || break; sleep 0.2; done
rm -rf "$target_unix"

# Without a certificate nothing is signed, and the output says so.
output=$("${release[@]}" --dist "$dist" --key "$tmp/release-key.pem" "${servers[@]}")
check "an unsigned release says so" contains "$output" "the binaries are unsigned"
check "an unsigned release is unsigned" bash -c "! osslsigncode verify -in '$dist/Merovane-setup.exe' >/dev/null 2>&1"

# A test release, signed with the certificate as PEM files.
test_dist="$tmp/test-dist"
output=$("${release[@]}" --dist "$test_dist" --test-release --cert-pem "$tmp/cert.pem" --cert-key "$tmp/cert-key.pem")
check "a test release says so" contains "$output" "TEST RELEASE, not for publishing"
check "a test release is signed from PEM files" verify "$test_dist/Merovane-setup.exe"
mkdir -p "$tmp/test-zip"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "$test_dist/Merovane.zip" "$tmp/test-zip"
check "a test release's version resource says so" python3 - "$tmp/test-zip/Merovane.exe" "$tmp/zip64/Merovane.exe" <<'EOF'
import sys
comment = "Test release, not for publishing".encode("utf-16-le")
test_program, release_program = (open(path, "rb").read() for path in sys.argv[1:])
sys.exit(0 if comment in test_program and comment not in release_program else 1)
EOF

# The verifier refuses what the program refuses (the package fixtures).
fixtures="$src/tests/fixtures/update"
python3 -c 'import sys; open(sys.argv[1], "wb").write(b"Merovane test package\n" * 5000)' "$tmp/Merovane-setup.exe"
for case in "setup 1.0.1.0 0" "setup-crlf 1.0.1.0 0" "other-key 1.0.1.0 1" "old 1.0.1.0 1" "setup 1.0.2.0 1" \
            "zip 1.0.1.0 1" "huge 1.0.1.0 1"; do
  read -r sig offered expected <<<"$case"
  cp "$fixtures/$sig.sig" "$tmp/Merovane-setup.exe.sig"
  result=0
  python3 "$src/tools/verify_package.py" --public-key "$fixtures/test-only-key.pub.pem" --version "$offered" \
    "$tmp/Merovane-setup.exe" >/dev/null 2>&1 || result=1
  check "verifier: $case" test "$result" = "$expected"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
