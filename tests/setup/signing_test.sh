#!/usr/bin/env bash
# The setup and the checker signed by scripts/imzala.sh with the development code-signing
# certificate (keys/dev-codesign.*): they verify against the development authority and not once a
# byte changed, the signed setup keeps its imports and resources, runs under Wine, installs, and
# the uninstaller copy it leaves (the same signed file) removes the product again.
# Usage: signing_test.sh BUILD_DIR SOURCE_DIR
# shellcheck disable=SC2317 # the helpers run through check_true
set -uo pipefail

build=$1
src=$2
wine_sh=$src/scripts/wine.sh
keys=$src/keys
work=$(mktemp -d)
# shellcheck source=tests/support/checks.sh
. "$src/tests/support/checks.sh"
checks_work=$work
trap 'rm -rf "$work"' EXIT
install_dir=${WINEPREFIX:-$build/wineprefix}/drive_c/Program\ Files/Talvor
uninstaller='C:\Program Files\Talvor\Talvor-Kaldir.exe'

fails() { ! "$@"; }
verify() { osslsigncode verify -CAfile "$keys/dev-codesign-ca.pem" -in "$1"; }
sha256_signed() { verify "$1" | grep -q "Message digest algorithm *: SHA256"; }
windows_path() { local path=${1//\//\\}; echo "Z:$path"; }

# A byte of the signed file, in its code, made different.
damage() { # FILE OFFSET
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf '%b' "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}

remove_installed() {
  [ ! -e "$install_dir/Talvor-Kaldir.exe" ] || "$wine_sh" "$uninstaller" /kaldir /sessiz </dev/null
}

cp "$build/bin/Talvor-Kurulum.exe" "$build/bin/talvor-denetle.exe" "$work/"
# The checker through the PKCS #12 path, with a password read from a file.
echo "gelistirme" >"$work/parola"
openssl pkcs12 -export -in "$keys/dev-codesign.pem" -inkey "$keys/dev-codesign.key" -passout file:"$work/parola" \
  -out "$work/dev-codesign.p12"
check_true "the setup is signed with the PEM certificate and key" "$src/scripts/imzala.sh" \
  --sertifika="$keys/dev-codesign.pem" --anahtar="$keys/dev-codesign.key" "$work/Talvor-Kurulum.exe"
check_true "the checker is signed with the PKCS #12 file" "$src/scripts/imzala.sh" \
  --pfx="$work/dev-codesign.p12" --parola-dosyasi="$work/parola" "$work/talvor-denetle.exe"
check_true "the signed setup verifies against the development authority, over SHA-256" sha256_signed "$work/Talvor-Kurulum.exe"
check_true "the signed checker verifies" sha256_signed "$work/talvor-denetle.exe"
check_true "the unsigned setup does not" fails verify "$build/bin/Talvor-Kurulum.exe"
cp "$work/Talvor-Kurulum.exe" "$work/damaged.exe"
damage "$work/damaged.exe" 4096
check_true "a byte changed after signing fails verification" fails verify "$work/damaged.exe"
check_true "a bad command line signs nothing" fails "$src/scripts/imzala.sh" --pfx="$work/dev-codesign.p12" \
  --anahtar="$keys/dev-codesign.key" "$work/damaged.exe"

check_true "the signed setup keeps its imports and resources" env TALVOR_SETUP_EXE="$(windows_path "$work/Talvor-Kurulum.exe")" \
  "$wine_sh" "$build/tests/setup_test.exe" --gtest_filter='SetupBinary.*'

"$build/bin/talvor-yayin" yayinla --anahtar="$keys/dev-release.pem" --surum=1.0.0 --kurulum="$work/Talvor-Kurulum.exe" \
  "$build/product" "$work/yayin" >/dev/null
check_true "the signed checker runs and takes the release" "$wine_sh" "$work/talvor-denetle.exe" --yerel="$(windows_path "$work/yayin")"
remove_installed
check_true "the signed setup installs" "$wine_sh" "$work/Talvor-Kurulum.exe" /sessiz --yerel="$(windows_path "$work/yayin")"
check_true "its uninstaller copy is the signed file" cmp "$work/Talvor-Kurulum.exe" "$install_dir/Talvor-Kaldir.exe"
check_true "the signed uninstaller copy removes the product" "$wine_sh" "$uninstaller" /kaldir /sessiz
check_true "the versions are gone" test ! -e "$install_dir/surumler"

checks_summary
