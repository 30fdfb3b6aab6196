#!/usr/bin/env bash
# Releases made by the release tool (by hand and with yayinla), checked by the release checker
# under Wine with the key built into the setup. Usage: release_roundtrip.sh BUILD_DIR SOURCE_DIR
# shellcheck disable=SC2317 # the helpers run through expect
set -uo pipefail

build=$1
src=$2
yayin=$build/bin/talvor-yayin
denetle=$build/bin/talvor-denetle.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=tests/support/checks.sh
. "$src/tests/support/checks.sh"
checks_work=$work

# expect NAME EXIT_CODE EXPECTED_OUTPUT -- COMMAND...: runs the command and checks both.
expect() {
  local name=$1 code=$2 output=$3 got status
  shift 4
  got=$("$@" 2>"$work/stderr")
  status=$?
  check "$name" "$got
(exit $status)" "$output
(exit $code)" || cat "$work/stderr"
}

run_checker() {
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
expect "a release signed with the built-in key, without its package" 1 "bildirim=0
seri=9
program=0
surum=2.1.0
boyut=1000
paket=paket-2.1.0.tpk
kurulabilir=1
paket_dogrulandi=0
hata=Kurulum klasöründe program paketi bulunamadı ya da boyutu tutmuyor." -- run_checker --yerel="Z:$work/ok"

cp "$work/paket-2.1.0.tpk" "$work/ok/"
expect "a signed package that is no package" 1 "paket_dogrulandi=1
acma=1
dosya=0
hata=Program paketi açılamadı ya da eksik. Bilgisayarında hiçbir şey değiştirilmedi." -- \
  bash -o pipefail -c "'$src/scripts/wine.sh' '$denetle' --yerel='Z:$work/ok' | tail -n 4"

expect "the tool shows what it wrote" 0 "a=7
b=9
bilesen=program|2.1.0|$(sha256sum "$work/paket-2.1.0.tpk" | cut -d' ' -f1)|1000|paket-2.1.0.tpk
bilesen=arac|1.0.0|$other_digest|4|arac.tpk" -- "$yayin" bildirim-goster --acik="$src/keys/dev-release.pub" "$work/ok/bildirim.tdb"

"$yayin" anahtar-uret --ozel="$work/baska.pem" --acik="$work/baska.pub" >/dev/null
make_release "$work/other-key" "$work/baska.pem" --paket="program:2.1.0:$work/paket-2.1.0.tpk"
expect "a release signed with another key" 1 "bildirim=1" -- run_checker --yerel="Z:$work/other-key"

make_release "$work/no-program" "$src/keys/dev-release.pem" --b=3 --bilesen="arac|1.0.0|$other_digest|4|arac.tpk"
expect "a release without a program" 1 "bildirim=0
seri=3
program=3" -- run_checker --yerel="Z:$work/no-program"

cp "$work/ok/bildirim.tdb" "$work/cut.tdb"
mkdir -p "$work/cut"
head -c -1 "$work/cut.tdb" >"$work/cut/bildirim.tdb"
expect "a manifest cut by one byte" 1 "bildirim=1" -- run_checker --yerel="Z:$work/cut"

expect "a folder without a manifest" 1 "hata=Kurulum klasöründe bildirim.tdb bulunamadı." -- run_checker --yerel="Z:$work/yok"
expect "no folder given" 2 "" -- run_checker
expect "an unknown option" 2 "" -- run_checker --yerel="Z:$work/ok" --fazla

# A whole release made by the tool from the product's files, taken and unpacked by the checker
# as the setup would: installable, and unpacked into exactly the files it was made from.
product=$build/product
mkdir -p "$work/agac/alt/derin" "$work/urun"
cp "$product"/* "$work/agac/"
head -c 300000 /dev/urandom >"$work/agac/alt/rastgele.bin"
seq 1 200000 >"$work/agac/alt/derin/sayilar.txt"
: >"$work/agac/alt/bos.dat"
"$yayin" paket-yap --surum=3.0.0 "$work/agac" "$work/urun/paket-3.0.0.tpk" >"$work/line"
make_release "$work/urun" "$src/keys/dev-release.pem" --b=4 "$(cat "$work/line")"
size=$(stat -c %s "$work/urun/paket-3.0.0.tpk")
expect "a release of the product's files is installable" 0 "bildirim=0
seri=4
program=0
surum=3.0.0
boyut=$size
paket=paket-3.0.0.tpk
kurulabilir=1
paket_dogrulandi=1
acma=0
dosya=9
tam=1" -- run_checker --yerel="Z:$work/urun" --ac="Z:$work/acilan"
check_true "the unpacked tree is the same as its source" diff -r "$work/agac" "$work/acilan"
methods=$("$yayin" paket-goster "$work/urun/paket-3.0.0.tpk" | cut -d'|' -f2 | sort -u | tr '\n' ' ')
expect "stored and compressed entries alike" 0 "0 1 " -- echo -n "$methods"

wine_temp=${WINEPREFIX:-$build/wineprefix}/drive_c/users/$(id -un)/Temp
run_checker --yerel="Z:$work/urun" >/dev/null
expect "the checker leaves nothing behind without --ac" 0 "" -- \
  bash -c "ls -d '$wine_temp'/talvor-denetle-* 2>/dev/null || true"

rm -rf "$work/eksik" && mkdir -p "$work/eksik/kaynak" "$work/eksik/yayin"
cp "$product"/talvor_svc.exe "$work/eksik/kaynak/"
"$yayin" paket-yap --surum=3.0.1 "$work/eksik/kaynak" "$work/eksik/yayin/paket-3.0.1.tpk" >"$work/line"
make_release "$work/eksik/yayin" "$src/keys/dev-release.pem" "$(cat "$work/line")"
expect "a package without the product's files is not installable" 1 "paket_dogrulandi=1
acma=0
dosya=1
tam=0
hata=Program paketi açılamadı ya da eksik. Bilgisayarında hiçbir şey değiştirilmedi." -- \
  bash -o pipefail -c "'$src/scripts/wine.sh' '$denetle' --yerel='Z:$work/eksik/yayin' | tail -n 5"

printf 'x' | dd of="$work/urun/paket-3.0.0.tpk" bs=1 seek=100 conv=notrunc 2>/dev/null
expect "a damaged package is not taken" 1 "paket_dogrulandi=0
hata=Program paketi imzalı sürüm bilgisiyle eşleşmedi; kullanılmadı." -- \
  bash -o pipefail -c "'$src/scripts/wine.sh' '$denetle' --yerel='Z:$work/urun' | tail -n 2"

# Releases published by `talvor-yayin yayinla` into one folder, one over the other, for the
# built setup: each taken by the checker as the setup would, and the refused ones change nothing.
folder=$work/yayinla
setup=$build/bin/Talvor-Kurulum.exe

checked() { # [FOLDER]: the checker's lines about the release it finds, without the serial and the package's size
  run_checker --yerel="Z:${1:-$folder}" | tr -d '\r' | grep -v '^boyut=\|^seri='
}

publish() { # VERSION PRODUCT [FLAGS...]
  local version=$1 product=$2
  shift 2
  "$yayin" yayinla --anahtar="$src/keys/dev-release.pem" --surum="$version" --kurulum="$setup" "$@" "$product" \
    "$folder" >/dev/null
}

installable() { # VERSION FILE_COUNT
  printf 'bildirim=0\nprogram=0\nsurum=%s\npaket=paket-%s.tpk\nkurulabilir=1\npaket_dogrulandi=1\nacma=0\ndosya=%s\ntam=1' \
    "$1" "$1" "$2"
}

mkdir -p "$work/ikinci"
cp "$product"/* "$work/ikinci/"
echo "yeni" >"$work/ikinci/surum-notu.txt"
count=$(find "$product" -type f | wc -l)
expect "the first release is published for the built setup" 0 "" -- publish 1.0.0 "$product"
expect "the checker takes it as the setup would" 0 "$(installable 1.0.0 "$count")" -- checked
expect "the next release is published over it" 0 "" -- publish 1.1.0 "$work/ikinci"
expect "the checker takes the new release" 0 "$(installable 1.1.0 $((count + 1)))" -- checked
expect "the package the previous manifest named is still served" 0 "bildirim.tdb paket-1.0.0.tpk paket-1.1.0.tpk" -- \
  bash -c "cd '$folder' && echo *"
before=$(sha256sum "$folder"/* | sha256sum)
expect "a key the built setup does not carry is refused" 1 "" -- \
  "$yayin" yayinla --anahtar="$work/baska.pem" --surum=1.2.0 --kurulum="$setup" "$product" "$folder"
expect "a version that is not newer is refused" 1 "" -- publish 1.0.1 "$product"
expect "refused runs leave the folder as it was" 0 "$before" -- bash -c "sha256sum '$folder'/* | sha256sum"
expect "the checker still takes the published release" 0 "$(installable 1.1.0 $((count + 1)))" -- checked

# A release the maker signed for one day: the checker shows its expiry, and refuses it once past.
shown() { "$yayin" bildirim-goster --acik="$src/keys/dev-release.pub" "$1" | sed -n "s/^$2=//p"; }
expect "a release valid for a day is published" 0 "" -- publish 1.2.0 "$product" --gecerlilik=1
expiry=$(shown "$folder/bildirim.tdb" gecerlilik)
expect "the checker shows the expiry and takes the release" 0 "gecerlilik=$expiry
gecerlilik_utc=$(date -u -d "@$expiry" +%Y-%m-%dT%H:%M:%SZ)
tam=1" -- \
  bash -o pipefail -c "'$src/scripts/wine.sh' '$denetle' --yerel='Z:$folder' | tr -d '\r' | grep '^gecerlilik\|^tam='"

# The same manifest with its expiry in 2001, signed again with the release key.
mkdir -p "$work/dolmus"
cp "$folder"/* "$work/dolmus/"
head -c -64 "$folder/bildirim.tdb" | perl -0777 -pe "s/$expiry/1000000000/" >"$work/govde"
signature=$(openssl dgst -sha256 -sign "$src/keys/dev-release.pem" "$work/govde" | openssl asn1parse -inform DER |
  sed -n 's/.*INTEGER *://p' | while read -r half; do half=$(printf '%064d' 0)$half; echo -n "${half: -64}"; done)
{ cat "$work/govde"; perl -e 'print pack("H*", $ARGV[0])' "$signature"; } >"$work/dolmus/bildirim.tdb"
expect "an expired manifest is refused" 1 "bildirim=0
seri=$(shown "$folder/bildirim.tdb" b)
gecerlilik=1000000000
gecerlilik_utc=2001-09-09T01:46:40Z
hata=Sürüm bilgisinin geçerlilik süresi dolmuş. Yayımcının bildirimi talvor-yayin yenile ile yenilemesi gerekiyor." -- \
  bash -o pipefail -c "'$src/scripts/wine.sh' '$denetle' --yerel='Z:$work/dolmus' | tr -d '\r'"
expect "yenile signs it again without an expiry" 0 "" -- \
  bash -c "'$yayin' yenile --anahtar='$src/keys/dev-release.pem' '$work/dolmus' >/dev/null"
expect "the checker takes the renewed release" 0 "$(installable 1.2.0 "$count")" -- checked "$work/dolmus"

checks_summary
