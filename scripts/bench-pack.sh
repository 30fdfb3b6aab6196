#!/usr/bin/env bash
# Benchmark: paket-yap on one thread against paket-yap on every processor, on the corpus that
# scripts/bench-acquire.sh packs. Prints both times and their ratio, and fails when the two
# packages differ by a byte.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh" native_tools >/dev/null
yayin=$root/build/bin/talvor-yayin
work=$(mktemp -d -t talvor-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

. "$root/scripts/bench-corpus.sh"
make_bench_corpus "$work/agac"
corpus=$(du -sb "$work/agac" | cut -f1)
echo "packing $((corpus / 1048576)) MiB in $(find "$work/agac" -type f | wc -l) files on 1 and on $(nproc) threads..."

ms() { date +%s%3N; }
t0=$(ms)
"$yayin" paket-yap --surum=9.0.0 --is=1 --sessiz "$work/agac" "$work/bir.tpk" >/dev/null
t1=$(ms)
"$yayin" paket-yap --surum=9.0.0 --sessiz "$work/agac" "$work/hepsi.tpk" >/dev/null
t2=$(ms)
cmp -s "$work/bir.tpk" "$work/hepsi.tpk" || { echo "the packages differ" >&2; exit 1; }

echo "paket-yap --is=1: $((t1 - t0)) ms"
echo "paket-yap on $(nproc) threads: $((t2 - t1)) ms (same bytes)"
awk -v a="$((t1 - t0))" -v b="$((t2 - t1))" 'BEGIN { printf "speed-up: %.2f\n", a / (b > 0 ? b : 1) }'
