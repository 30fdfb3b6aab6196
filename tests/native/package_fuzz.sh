#!/bin/sh
# A bounded libFuzzer run of the package reader, seeded with packages that the release tool
# builds: the LZMS samples' folder, and a small tree with nested folders, an empty file, a
# non-ASCII name and files that are stored and compressed. New inputs stay in WORK/corpus.
# Usage: package_fuzz.sh TALVOR_YAYIN FUZZER SOURCE_DIR WORK SECONDS
set -eu

yayin=$1
fuzzer=$2
src=$3
work=$4
seconds=$5

rm -rf "$work"
mkdir -p "$work/corpus" "$work/seeds" "$work/tree/lib/alt"
: >"$work/tree/bos.txt"
printf 'x' >"$work/tree/bir"
seq 1 2000 >"$work/tree/lib/alt/satirlar.txt"
printf 'kurulum\n' >"$work/tree/lib/$(printf 'g\303\274n\303\274.txt')"
cp "$src/tests/data/compress-api-lzms/random.raw" "$work/tree/lib/rastgele.bin"
"$yayin" paket-yap --surum=1.0.0 "$work/tree" "$work/seeds/agac.tpk" >/dev/null
"$yayin" paket-yap --surum=1.0.0 "$src/tests/data/compress-api-lzms" "$work/seeds/ornekler.tpk" >/dev/null

exec "$fuzzer" -seed=1 -max_total_time="$seconds" -rss_limit_mb=1024 "$work/corpus" "$work/seeds"
