#!/usr/bin/env bash
# Benchmark: one 256 MiB file over HTTP from our test server on the loopback, fetched by the
# setup's HttpDownload under Wine and by curl, best of three runs each. Prints the throughput
# of both, their ratio, and our peak memory against the goal of the body plus 32 MiB.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
size=268435456
work=$(mktemp -d -t talvor-bench.XXXXXX)
server=
stop() {
  [ -z "$server" ] || { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; } || true
  "$root/scripts/wine.sh" --stop
  rm -rf "$work"
}
trap stop EXIT

mkdir "$work/served"
head -c "$size" /dev/urandom >"$work/served/body.bin"
setpriv --pdeathsig TERM python3 "$root/tests/servers/test_http_server.py" --port-file="$work/port" \
  --root="$work/served" </dev/null >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] || sleep 0.1; done
[ -s "$work/port" ] || { cat "$work/server.log" >&2; echo "the test server did not start" >&2; exit 1; }
url="http://127.0.0.1:$(cat "$work/port")/dosyalar/body.bin"

best_peer=
best_ours=
peak=
for _ in 1 2 3; do
  read -r got seconds < <(curl -s -o /dev/null -w '%{size_download} %{time_total}\n' "$url")
  [ "$got" -eq "$size" ] || { echo "curl received $got bytes of $size" >&2; exit 1; }
  ms=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 1000 }')
  [ -z "$best_peer" ] || [ "$ms" -lt "$best_peer" ] && best_peer=$ms
  read -r got ms memory < <("$root/scripts/wine.sh" "$root/build/tests/http_download_bench.exe" "$url" "$size" | tr -d "\r")
  [ "$got" -eq "$size" ] || { echo "HttpDownload received $got bytes of $size" >&2; exit 1; }
  [ -z "$best_ours" ] || [ "$ms" -lt "$best_ours" ] && best_ours=$ms
  [ -z "$peak" ] || [ "$memory" -gt "$peak" ] && peak=$memory
done
rate() { awk -v ms="$1" 'BEGIN { printf "%.0f", 256 * 1000 / (ms > 0 ? ms : 1) }'; }
echo "curl:         $(rate "$best_peer") MiB/s ($best_peer ms for 256 MiB)"
echo "HttpDownload: $(rate "$best_ours") MiB/s ($best_ours ms for 256 MiB, under Wine)"
awk -v a="$best_peer" -v b="$best_ours" 'BEGIN { printf "HttpDownload / curl throughput ratio: %.2f\n", a / (b > 0 ? b : 1) }'
awk -v p="$peak" 'BEGIN { printf "HttpDownload peak working set: %.0f MiB (goal: at most %d MiB, the body plus 32)\n", p / 1048576, 256 + 32 }'
