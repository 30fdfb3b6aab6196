#!/usr/bin/env bash
# Releases published by `talvor-yayin yayinla` into one folder, one after the other, each checked
# by the release checker under Wine with the key built into the setup.
# Usage: publish_roundtrip.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$1
src=$2
yayin=$build/bin/talvor-yayin
denetle=$build/bin/talvor-denetle.exe
setup=$build/bin/Talvor-Kurulum.exe
key=$src/keys/dev-release.pem
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folder=$work/yayin
passed=0
failed=0

# expect NAME EXIT_CODE EXPECTED_OUTPUT -- COMMAND...: runs the command and compares.
expect() {
  local name=$1 code=$2 output=$3
  shift 4
  local got status
  got=$("$@" 2>"$work/stderr")
  status=$?
  if [ "$status" = "$code" ] && [ "$got" = "$output" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name (exit $status, expected $code)"
    diff <(echo "$output") <(echo "$got") || true
    cat "$work/stderr"
  fi
}

# The checker's lines about the release it finds, without the package's size.
checked() {
  "$src/scripts/wine.sh" "$denetle" --yerel="Z:$folder" | tr -d '\r' | grep -v '^boyut='
}

publish() { # VERSION PRODUCT [FLAGS...]
  local version=$1 product=$2
  shift 2
  "$yayin" yayinla --anahtar="$key" --surum="$version" --kurulum="$setup" "$@" "$product" "$folder" >/dev/null
}

installable() { # VERSION
  echo "bildirim=0
program=0
surum=$1
paket=paket-$1.tpk
kurulabilir=1
paket_dogrulandi=1
acma=0
dosya=$2
tam=1"
}

mkdir -p "$work/ikinci"
cp "$build"/product/* "$work/ikinci/"
echo "yeni" >"$work/ikinci/surum-notu.txt"
count=$(find "$build/product" -type f | wc -l)

expect "the first release is published for the built setup" 0 "" -- publish 1.0.0 "$build/product"
expect "the checker takes it as the setup would" 0 "$(installable 1.0.0 "$count")" -- checked
expect "the next release is published over it" 0 "" -- publish 1.1.0 "$work/ikinci"
expect "the checker takes the new release" 0 "$(installable 1.1.0 $((count + 1)))" -- checked
expect "the package the previous manifest named is still served" 0 "bildirim.tdb paket-1.0.0.tpk paket-1.1.0.tpk" -- \
  bash -c "cd '$folder' && echo *"

"$yayin" anahtar-uret --ozel="$work/baska.pem" --acik="$work/baska.pub" >/dev/null
before=$(sha256sum "$folder"/* | sha256sum)
expect "a key the built setup does not carry is refused" 1 "" -- \
  "$yayin" yayinla --anahtar="$work/baska.pem" --surum=1.2.0 --kurulum="$setup" "$build/product" "$folder"
expect "a version that is not newer is refused" 1 "" -- publish 1.0.1 "$build/product"
expect "refused runs leave the folder as it was" 0 "$before" -- bash -c "sha256sum '$folder'/* | sha256sum"
expect "the checker still takes the published release" 0 "$(installable 1.1.0 $((count + 1)))" -- checked

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
