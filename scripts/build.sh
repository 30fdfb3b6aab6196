#!/usr/bin/env bash
# scripts/build.sh [TARGET...]: builds the CMake targets named, or everything, into build/: the
# setup in build/bin, the test programs in build/tests. Needs what scripts/install-deps.sh
# installs (scripts/test.sh and scripts/demo.sh run it first).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cmake -S "$root" -B "$root/build" -G Ninja --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$root/build" ${1:+--target} "$@"
