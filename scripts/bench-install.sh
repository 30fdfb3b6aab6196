#!/usr/bin/env bash
# Benchmark: wall time of a fresh install, an update and a removal of the stand-in product under
# Wine, each as a whole setup process, over five rounds; medians. The peer is a setup run that
# refuses its command line at once: the cost of starting the program at all. The fixed waits
# inside each run are the service health check's 3 s pause (install and update) and the 250 ms
# polls of the service state.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
work=$(mktemp -d -t talvor-bench-install.XXXXXX)
trap '"$root/scripts/wine.sh" --stop; rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8

publish() { # VERSION SERIAL: the serials rise as a maker's do, since the setup refuses to go back
  local version=$1 line
  mkdir -p "$work/$version"
  line=$("$root/build/bin/talvor-yayin" paket-yap --surum="$version" "$root/build/product" "$work/$version/paket-$version.tpk")
  "$root/build/bin/talvor-yayin" bildirim-yaz --anahtar="$root/keys/dev-release.pem" \
    --cikti="$work/$version/bildirim.tdb" --b="$2" "$line" >/dev/null
}
publish 1.0.0 1
publish 1.1.0 2

setup=$root/build/bin/Talvor-Kurulum.exe
# Milliseconds of one setup run; a run that does not end as expected stops the benchmark.
timed() {
  local expected=$1 start code
  shift
  start=$(date +%s%N)
  code=0
  "$root/scripts/wine.sh" "$setup" "$@" </dev/null >/dev/null 2>&1 || code=$?
  [ "$code" -eq "$expected" ] || { echo "setup $* ended with $code, not $expected" >&2; exit 1; }
  echo $((($(date +%s%N) - start) / 1000000))
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

"$root/scripts/wine.sh" "$setup" /kaldir /sessiz </dev/null >/dev/null 2>&1 || true
: >"$work/start" ; : >"$work/install" ; : >"$work/update" ; : >"$work/removal"
for _ in 1 2 3 4 5; do
  timed 2 /sessiz /bilinmeyen >>"$work/start"
  timed 0 /sessiz "--yerel=Z:$work/1.0.0" >>"$work/install"
  timed 0 /sessiz "--yerel=Z:$work/1.1.0" >>"$work/update"
  timed 0 /kaldir /sessiz >>"$work/removal"
done

start=$(median <"$work/start")
for run in install update removal; do
  ms=$(median <"$work/$run")
  fixed=0
  [ "$run" = removal ] || fixed=3000
  printf '%-8s median %5d ms (runs: %s); program start %d ms, fixed pause %d ms, the rest %d ms\n' \
    "$run" "$ms" "$(tr '\n' ' ' <"$work/$run" | sed 's/ $//')" "$start" "$fixed" $((ms - start - fixed))
done
