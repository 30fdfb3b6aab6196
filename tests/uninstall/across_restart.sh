#!/usr/bin/env bash
# Runs a test of a test program across a restart of Windows: its part 1, then the test prefix's
# server is ended and started again (services start anew as at a boot, and the deletions left for
# the restart are carried out), then its part 2. The test reads its part from TALVOR_RESTART_PART.
#
#   across_restart.sh PROGRAM GTEST_FILTER
set -uo pipefail

wine=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)/wine.sh
status=0
TALVOR_RESTART_PART=1 "$wine" "$1" --gtest_filter="$2" || status=1
"$wine" --stop
TALVOR_RESTART_PART=2 "$wine" "$1" --gtest_filter="$2" || status=1
exit $status
