#!/usr/bin/env bash
# Benchmark: paket-yap on one thread against paket-yap on every processor, on the corpus that
# scripts/bench-acquire.sh packs, and both against the packers a maker would otherwise reach for:
# makensis with solid LZMA, and xz -9 -T0 on a tar of the same files. Prints each one's time,
# speed against paket-yap --is=1 and output size, and fails when the two packages differ by a byte.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh" --bench
"$root/scripts/build.sh" native_tools >/dev/null
yayin=$root/build/bin/talvor-yayin
work=$(mktemp -d -t talvor-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

. "$root/scripts/bench-corpus.sh"
make_bench_corpus "$work/agac"
corpus=$(du -sb "$work/agac" | cut -f1)
echo "packing $((corpus / 1048576)) MiB in $(find "$work/agac" -type f | wc -l) files, $(nproc) processors..."

# Each packer's time in ms, by name.
declare -A took
timed() {
  local name=$1 start
  shift
  start=$(date +%s%3N)
  "$@"
  took[$name]=$(($(date +%s%3N) - start))
}
pack_one() { "$yayin" paket-yap --surum=9.0.0 --is=1 --sessiz "$work/agac" "$work/bir.tpk" >/dev/null; }
pack_all() { "$yayin" paket-yap --surum=9.0.0 --sessiz "$work/agac" "$work/hepsi.tpk" >/dev/null; }
nsis() {
  printf '%s\n' 'Unicode true' 'SetCompressor /SOLID lzma' 'Name "bench"' "OutFile \"$work/nsis.exe\"" \
    'RequestExecutionLevel user' 'Section' "SetOutPath \$INSTDIR" "File /r \"$work/agac/*\"" 'SectionEnd' \
    >"$work/paket.nsi"
  makensis -V1 "$work/paket.nsi" >/dev/null
}
tar_xz() { tar -cf - -C "$work/agac" . | xz -9 -T0 >"$work/agac.tar.xz"; }

timed one pack_one
timed all pack_all
cmp -s "$work/bir.tpk" "$work/hepsi.tpk" || { echo "the packages differ" >&2; exit 1; }
timed nsis nsis
timed xz tar_xz

line() {
  local ms=${took[$2]}
  printf '%-36s %8d ms  %5.2f x  %4d MiB\n' "$1" "$ms" "$(awk -v a="${took[one]}" -v b="$ms" 'BEGIN { print a / (b > 0 ? b : 1) }')" \
    "$(($(stat -c %s "$3") / 1048576))"
}
echo "packer, time, speed against paket-yap --is=1, size"
line "paket-yap --is=1" one "$work/bir.tpk"
line "paket-yap on $(nproc) threads (same bytes)" all "$work/hepsi.tpk"
line "makensis, solid LZMA" nsis "$work/nsis.exe"
line "tar | xz -9 -T0" xz "$work/agac.tar.xz"
