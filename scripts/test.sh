#!/usr/bin/env bash
# Builds everything and runs all tests: the Windows ones under Wine, each in a prefix of its own
# (tests/support/own_prefix.sh), several at a time. Extra arguments go to ctest (for example
# -R core_test). Ends the servers of every prefix when done.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
stop_prefixes() {
  local prefix
  for prefix in "$root/build/wineprefix" "$root"/build/prefixes/*; do
    if [ -d "$prefix" ]; then WINEPREFIX=$prefix "$root/scripts/wine.sh" --stop; fi
  done
}
trap stop_prefixes EXIT
cd "$root/build"
# Most of a Windows test's time is spent waiting (on the setup's own pauses, a service, a window),
# so more of them run at once than there are cores: on two cores, four at once left the processors
# idle for a third of the run, eight for a twentieth.
ctest --output-on-failure --parallel "${TALVOR_TEST_JOBS:-8}" "$@"
