#!/usr/bin/env bash
# Builds everything and runs all tests under Wine, one at a time, in the test prefix. Extra
# arguments go to ctest (for example -R core_test). Ends the prefix's servers when done.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
trap '"$root/scripts/wine.sh" --stop' EXIT
cd "$root/build"
# A test that fails is run once more, so that a failure that does not repeat is told apart from
# one that does; both runs' output is printed.
ctest --output-on-failure --repeat until-pass:2 "$@"
