#!/usr/bin/env bash
# Runs a test command in a Wine prefix of its own, so that tests can run side by side:
#
#   own_prefix.sh NAME COMMAND [ARGS...]
#
# The prefix is build/prefixes/NAME, a fresh copy of a just-booted prefix (scripts/wine.sh
# --fresh), and COMMAND finds it in WINEPREFIX. Its wineserver and X server are ended after the
# command; the prefix is deleted when the command passed, and kept to be looked at when it failed.
set -uo pipefail

[ $# -ge 2 ] || { echo "usage: own_prefix.sh NAME COMMAND [ARGS...]" >&2; exit 64; }
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINEPREFIX=$root/build/prefixes/$1
shift
mkdir -p "$root/build/prefixes"
"$root/scripts/wine.sh" --fresh || exit 1
"$@"
status=$?
"$root/scripts/wine.sh" --stop
[ $status -ne 0 ] || rm -rf "$WINEPREFIX"
exit $status
