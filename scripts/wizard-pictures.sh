#!/usr/bin/env bash
# Pictures of the paged setup's pages, as PNG files in docs/wizard/ (or the folder given):
#
#   scripts/wizard-pictures.sh [FOLDER]
#
# Builds what it runs, then runs the real setup under Wine on the test prefix's own X server
# against releases of the stand-in product made with the development key. The console dialog
# driver (build/tests/dialog_driver_cli.exe) waits for each page and presses its buttons; each
# picture is the dialog cut out of a capture of the screen, kept only when two captures in a row
# are the same (a capture during a repaint shows half-drawn text). Wine draws the title bars
# itself for the setup while this runs. The product is taken off the prefix before and after,
# and the prefix's servers are ended at the end.
#
# Pages: the confirmation of a first install (from the update server: only shown, then left),
# of an update and of a removal with /ayarlari-sil; the progress while the service starts; the
# finish after a successful install and after a failed one.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$root/docs/wizard}
wine_sh=$root/scripts/wine.sh
build=$root/build
prefix=${WINEPREFIX:-$build/wineprefix}
setup=$build/bin/Talvor-Kurulum.exe
# The real ImageMagick: a convert earlier on the PATH may be something else.
convert=/usr/bin/convert
compare=/usr/bin/compare
install_title="Talvor Kurulumu"
removal_title="Talvor Kaldırma"

"$root/scripts/build.sh" Talvor-Kurulum native_tools product_programs dialog_driver_cli compress_api_standin
{ [ -x "$convert" ] && [ -x "$compare" ] && command -v xwd >/dev/null; } ||
  { echo "wizard-pictures: xwd and ImageMagick are missing (scripts/install-deps.sh)" >&2; exit 1; }
mkdir -p "$out"

# Non-ASCII arguments reach Windows programs intact only in a UTF-8 locale. The prefix's own X
# server, never the caller's desktop, so that every picture looks the same.
export LC_ALL=C.UTF-8
unset DISPLAY
work=
setup_pid=

title_bars() {
  local value=$1
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\Talvor-Kurulum.exe\\X11 Driver]\n"Decorated"=%s\n' \
    "$value" >"$work/title-bars.reg"
  "$wine_sh" regedit /S "Z:$work/title-bars.reg" </dev/null >/dev/null 2>&1
}

remove_product() {
  "$wine_sh" "$setup" /kaldir /sessiz </dev/null >/dev/null 2>&1 || true
}

cleanup() {
  local rc=$?
  trap - EXIT
  if [ -n "$setup_pid" ]; then
    kill "$setup_pid" 2>/dev/null || true
    wait "$setup_pid" 2>/dev/null || true
  fi
  if [ -n "$work" ]; then
    remove_product
    title_bars -
    "$wine_sh" --stop
    rm -rf "$work"
  fi
  exit "$rc"
}
trap cleanup EXIT
work=$(mktemp -d -t talvor-pictures.XXXXXX) || exit 1

# A signed release of the stand-in product in $work/NAME; a third argument becomes the service's
# behaviour file (tests/product/README.md).
publish() {
  local name=$1 version=$2 behaviour=${3:-} programs=$build/product line
  mkdir -p "$work/$name"
  if [ -n "$behaviour" ]; then
    programs=$work/$name-programs
    cp -r "$build/product" "$programs"
    printf '%s' "$behaviour" >"$programs/talvor_svc.davranis"
  fi
  line=$("$build/bin/talvor-yayin" paket-yap --surum="$version" "$programs" "$work/$name/paket-$version.tpk")
  # Serials in the order of publishing, as a maker's would rise: the setup refuses to go back.
  serial=$((serial + 1))
  "$build/bin/talvor-yayin" bildirim-yaz --anahtar="$root/keys/dev-release.pem" --cikti="$work/$name/bildirim.tdb" \
    --b=$serial "$line" >/dev/null
}
serial=0

start_setup() {
  "$wine_sh" "$setup" "$@" </dev/null >/dev/null 2>&1 &
  setup_pid=$!
}

# Waits for the setup started last to end; its exit code is not what a picture is about.
end_setup() {
  wait "$setup_pid" 2>/dev/null || true
  setup_pid=
}

# The console driver on the dialog titled $1; its output is kept in $work/page.
drive() {
  "$wine_sh" "$build/tests/dialog_driver_cli.exe" "$@" </dev/null | tr -d '\r' >"$work/page" ||
    { echo "wizard-pictures: dialog_driver_cli $* failed:" >&2; cat "$work/page" >&2; return 1; }
}

# Saves the dialog titled $2, painted anew, as $out/$1.png, from two captures that match.
picture() {
  local name=$1 title=$2 left top right bottom display
  drive "$title" ciz
  read -r left top right bottom < <(sed -n 's/^pencere: //p' "$work/page")
  display=$(cat "$prefix/.talvor/xvfb.display")
  for _ in $(seq 20); do
    sleep 0.5
    xwd -root -display "$display" -silent | "$convert" xwd:- "$work/a.png"
    sleep 0.3
    xwd -root -display "$display" -silent | "$convert" xwd:- "$work/b.png"
    if [ "$("$compare" -metric AE "$work/a.png" "$work/b.png" null: 2>&1)" = 0 ]; then
      "$convert" "$work/a.png" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage -strip \
        "$out/$name.png"
      echo "$out/$name.png"
      return 0
    fi
  done
  echo "wizard-pictures: the screen did not keep still for $name" >&2
  return 1
}

publish yayin 1.0.0
publish guncelleme 2.0.0
publish bozuk 1.0.0 hemen-dur
remove_product
# Wine's own fonts (Tahoma, and Marlett for the close box's glyph) from Debian's fonts-wine are
# not found where the package puts them; in the prefix's font folder they are.
for font in marlett.ttf tahoma.ttf tahomabd.ttf; do
  [ -f "$prefix/drive_c/windows/Fonts/$font" ] || cp "/usr/share/wine/fonts/$font" "$prefix/drive_c/windows/Fonts/"
done
title_bars '"N"'

# A first install from the update server, as a user gets it: only shown, then left.
start_setup
drive "$install_title" bekle "Talvor kurulacak"
picture onay-kurulum "$install_title"
drive "$install_title" tikla "Vazgeç"
end_setup

# A release whose service stops by itself: the install fails.
start_setup --yerel="Z:$work/bozuk"
drive "$install_title" bekle "Talvor kurulacak"
drive "$install_title" tikla "Kur"
drive "$install_title" bekle "Talvor kurulamadı" 60000
picture bitis-hata "$install_title"
drive "$install_title" tikla "Kapat"
end_setup
remove_product

# A successful install: the progress while the service is watched (3 s), then the finish. The
# launch box is unticked before Bitir, so that nothing else opens.
start_setup --yerel="Z:$work/yayin"
drive "$install_title" bekle "Talvor kurulacak"
drive "$install_title" tikla "Kur"
drive "$install_title" bekle "Talvor kuruluyor" 60000 "Talvor hizmeti başlatılıyor"
picture ilerleme "$install_title"
drive "$install_title" bekle "Talvor hazır" 60000
picture bitis-basarili "$install_title"
drive "$install_title" kutu kapa
drive "$install_title" tikla "Bitir"
end_setup

# With 1.0.0 installed: an update offered, and a removal that also deletes the settings.
start_setup --yerel="Z:$work/guncelleme"
drive "$install_title" bekle "Talvor güncellenecek"
picture onay-guncelleme "$install_title"
drive "$install_title" tikla "Vazgeç"
end_setup

start_setup /kaldir /ayarlari-sil
drive "$removal_title" bekle "Talvor kaldırılsın mı?"
picture onay-kaldirma "$removal_title"
drive "$removal_title" tikla "Vazgeç"
end_setup
