#!/usr/bin/env bash
# Runs tests of a test program across a restart of Windows: once before, then the test prefix's
# server is ended and started again (services start anew as at a boot, and the deletions left for
# the restart are carried out), then once after. The tests read TALVOR_RESTART_PHASE.
#
#   across_restart.sh PROGRAM GTEST_FILTER
set -uo pipefail

wine=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)/wine.sh
status=0
TALVOR_RESTART_PHASE=before "$wine" "$1" --gtest_filter="$2" || status=1
"$wine" --stop
TALVOR_RESTART_PHASE=after "$wine" "$1" --gtest_filter="$2" || status=1
exit $status
