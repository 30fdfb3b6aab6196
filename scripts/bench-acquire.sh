#!/usr/bin/env bash
# Benchmark: a release package of about 200 MiB (executables and data from this machine, packed by
# the release tool) taken from a local folder and unpacked by the setup's own code under Wine, against
# the same work done by plain tools (copy the package, sha256sum it, unpack it natively with the
# release tool). Prints both totals, their ratio and the setup's peak memory against the goal of
# the package plus its largest entry plus 32 MiB.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
yayin=$root/build/bin/talvor-yayin
work=$(mktemp -d -t talvor-bench.XXXXXX)
trap '"$root/scripts/wine.sh" --stop; rm -rf "$work"' EXIT

# The corpus: the machine's executables, libraries and documentation, and random data.
. "$root/scripts/bench-corpus.sh"
mkdir -p "$work/yayin" "$work/ours" "$work/plain"
make_bench_corpus "$work/agac"
corpus=$(du -sb "$work/agac" | cut -f1)
largest=$(find "$work/agac" -type f -printf '%s\n' | sort -n | tail -1)

echo "packing $((corpus / 1048576)) MiB in $(find "$work/agac" -type f | wc -l) files (wimlib's LZMS)..."
line=$("$yayin" paket-yap --surum=9.0.0 "$work/agac" "$work/yayin/paket-9.0.0.tpk")
"$yayin" bildirim-yaz --anahtar="$root/keys/dev-release.pem" --cikti="$work/yayin/bildirim.tdb" "$line" >/dev/null
package=$(stat -c %s "$work/yayin/paket-9.0.0.tpk")

ms() { date +%s%3N; }
t0=$(ms)
cp "$work/yayin/paket-9.0.0.tpk" "$work/plain/paket.tpk"
sha256sum "$work/plain/paket.tpk" >/dev/null
t1=$(ms)
"$yayin" paket-ac "$work/plain/paket.tpk" "$work/plain/acilan" >/dev/null
t2=$(ms)
read -r acquire extract files peak < <("$root/scripts/wine.sh" "$root/build/tests/acquire_extract_bench.exe" \
  "Z:$work/yayin" "Z:$work/ours" | tr -d '\r')
diff -r "$work/agac" "$work/ours/acilan" >/dev/null || { echo "the setup's unpacked tree differs" >&2; exit 1; }

echo "package: $((package / 1048576)) MiB, $files files, largest entry $((largest / 1048576)) MiB"
echo "plain tools: copy + sha256sum $((t1 - t0)) ms, unpack $((t2 - t1)) ms, total $((t2 - t0)) ms"
echo "setup under Wine: acquisition $acquire ms, extraction $extract ms, total $((acquire + extract)) ms"
awk -v a="$((acquire + extract))" -v b="$((t2 - t0))" 'BEGIN { printf "setup / plain tools time ratio: %.2f (goal: at most 1.5)\n", a / (b > 0 ? b : 1) }'
awk -v p="$peak" -v g="$((package + largest + 33554432))" \
  'BEGIN { printf "setup peak working set: %.0f MiB (goal: at most %.0f MiB)\n", p / 1048576, g / 1048576 }'
