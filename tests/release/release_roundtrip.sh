#!/usr/bin/env bash
# Releases made by the release tool, checked by the release checker under Wine with the key
# built into the setup. Usage: release_roundtrip.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$1
src=$2
yayin=$build/bin/talvor-yayin
denetle=$build/bin/talvor-denetle.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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

check() {
  "$src/scripts/wine.sh" "$denetle" "$@"
}

make_release() { # FOLDER KEY.pem COMPONENT_ARGS...
  local folder=$1 key=$2
  shift 2
  mkdir -p "$folder"
  "$yayin" bildirim-yaz --anahtar="$key" --cikti="$folder/bildirim.tdb" "$@" >/dev/null
}

head -c 1000 /dev/urandom >"$work/paket-2.1.0.tpk"
other_digest=$(printf 'arac' | sha256sum | cut -d' ' -f1)

make_release "$work/ok" "$src/keys/dev-release.pem" --a=7 --b=9 \
  --paket="program:2.1.0:$work/paket-2.1.0.tpk" --bilesen="arac|1.0.0|$other_digest|4|arac.tpk"
expect "a release signed with the built-in key" 0 "bildirim=0
program=0
surum=2.1.0
boyut=1000
paket=paket-2.1.0.tpk
kurulabilir=1" -- check --yerel="Z:$work/ok"

expect "the tool shows what it wrote" 0 "a=7
b=9
bilesen=program|2.1.0|$(sha256sum "$work/paket-2.1.0.tpk" | cut -d' ' -f1)|1000|paket-2.1.0.tpk
bilesen=arac|1.0.0|$other_digest|4|arac.tpk" -- "$yayin" bildirim-goster --acik="$src/keys/dev-release.pub" "$work/ok/bildirim.tdb"

"$yayin" anahtar-uret --ozel="$work/baska.pem" --acik="$work/baska.pub" >/dev/null
make_release "$work/other-key" "$work/baska.pem" --paket="program:2.1.0:$work/paket-2.1.0.tpk"
expect "a release signed with another key" 1 "bildirim=1" -- check --yerel="Z:$work/other-key"

make_release "$work/no-program" "$src/keys/dev-release.pem" --bilesen="arac|1.0.0|$other_digest|4|arac.tpk"
expect "a release without a program" 1 "bildirim=0
program=3" -- check --yerel="Z:$work/no-program"

cp "$work/ok/bildirim.tdb" "$work/cut.tdb"
mkdir -p "$work/cut"
head -c -1 "$work/cut.tdb" >"$work/cut/bildirim.tdb"
expect "a manifest cut by one byte" 1 "bildirim=1" -- check --yerel="Z:$work/cut"

expect "a folder without a manifest" 1 "hata=Kurulum klasöründe bildirim.tdb bulunamadı." -- check --yerel="Z:$work/yok"
expect "no folder given" 2 "" -- check
expect "an unknown option" 2 "" -- check --yerel="Z:$work/ok" --fazla

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
