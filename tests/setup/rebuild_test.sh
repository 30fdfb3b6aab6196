#!/usr/bin/env bash
# The setup and the checker built a second time, in a fresh folder from the same source with the
# same options, are the very bytes in BUILD_DIR/bin and carry neither folder's path; the second
# setup, signed and stripped of its signature again, is still those bytes. A third party checks a
# published setup this way (README, "Checking a published setup").
# Usage: rebuild_test.sh BUILD_DIR SOURCE_DIR CMAKE_ARGS...
# Compares with BUILD_DIR/bin as it is: build the two programs there first.
# shellcheck disable=SC2317 # the helpers run through check_true
set -uo pipefail

build=$1
src=$2
shift 2
keys=$src/keys
work=$(mktemp -d)
# shellcheck source=tests/support/checks.sh
. "$src/tests/support/checks.sh"
checks_work=$work
trap 'rm -rf "$work"' EXIT
programs=(Talvor-Kurulum.exe talvor-denetle.exe)

rebuild() {
  cmake -S "$src" -B "$work/build" "$@" >/dev/null &&
    cmake --build "$work/build" --target "${programs[@]%.exe}" >/dev/null
}

# Passes when both files hold the same bytes; otherwise prints how many differ and the first ones.
same_bytes() { # FIRST SECOND
  cmp -s "$1" "$2" && return 0
  echo "$(cmp -l "$1" "$2" 2>/dev/null | wc -l) bytes differ; offset (from 1), octal bytes:"
  cmp -l "$1" "$2" 2>&1 | head -n 16
  return 1
}

# Fails when the file names either folder, in ASCII or UTF-16.
no_paths() { # FILE
  ! { strings -a "$1" && strings -a -e l "$1"; } | grep -F -e "$src/" -e "$build/" -e "$work/"
}

check_true "the second build in a fresh folder succeeds" rebuild "$@"
for program in "${programs[@]}"; do
  check_true "$program is the same bytes (is $build/bin up to date?)" same_bytes "$build/bin/$program" "$work/build/bin/$program"
  check_true "$program names no build or source folder" no_paths "$work/build/bin/$program"
done

cp "$work/build/bin/Talvor-Kurulum.exe" "$work/signed.exe"
check_true "the second setup is signed" "$src/scripts/imzala.sh" \
  --sertifika="$keys/dev-codesign.pem" --anahtar="$keys/dev-codesign.key" "$work/signed.exe"
check_true "its signature is removed" osslsigncode remove-signature -in "$work/signed.exe" -out "$work/stripped.exe"
check_true "signed and stripped, it is the first build's bytes" same_bytes "$build/bin/Talvor-Kurulum.exe" "$work/stripped.exe"

checks_summary
