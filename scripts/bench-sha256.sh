#!/usr/bin/env bash
# Benchmark: SHA-256 of one 256 MiB file with the setup's Sha256File under Wine, against
# sha256sum on the same file, best of three runs each. Prints both figures and their ratio.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
file=$(mktemp /tmp/talvor-bench.XXXXXX)
trap '"$root/scripts/wine.sh" --stop; rm -f "$file"' EXIT
head -c 268435456 /dev/urandom >"$file"

best_peer=
best_ours=
for _ in 1 2 3; do
  start=$(date +%s%N)
  peer=$(sha256sum "$file" | cut -d' ' -f1)
  ms=$((($(date +%s%N) - start) / 1000000))
  [ -z "$best_peer" ] || [ "$ms" -lt "$best_peer" ] && best_peer=$ms
  read -r ours ms < <("$root/scripts/wine.sh" "$root/build/tests/sha256_file_bench.exe" "Z:$file" | tr -d "\r")
  [ "$ours" = "$peer" ] || { echo "digests differ: $ours $peer" >&2; exit 1; }
  [ -z "$best_ours" ] || [ "$ms" -lt "$best_ours" ] && best_ours=$ms
done
echo "sha256sum:  $best_peer ms for 256 MiB"
echo "Sha256File: $best_ours ms for 256 MiB (under Wine)"
awk -v a="$best_ours" -v b="$best_peer" 'BEGIN { printf "Sha256File / sha256sum time ratio: %.2f\n", a / (b > 0 ? b : 1) }'
