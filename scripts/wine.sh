#!/usr/bin/env bash
# Runs a Windows program of the project under Wine and passes on its output and exit code.
#
#   scripts/wine.sh PROGRAM [ARGS...]   run PROGRAM in the test prefix
#   scripts/wine.sh --fresh             make the test prefix a new copy of a just-booted prefix
#   scripts/wine.sh --stop              end the prefix's wineserver and its X server
#
# The prefix is $WINEPREFIX, by default build/wineprefix, created on first use without the Mono
# and Gecko prompts. One wineserver is kept running for the prefix, so that services and other
# state survive between the processes of a test; `--stop` (or scripts/test.sh at its end) ends
# it. Without a DISPLAY, an Xvfb server is started for the prefix and kept alongside. Booting a
# prefix takes a while, so `--fresh` copies a template prefix (build/wineprefix-template,
# booted once, whoever asks first) for the tests that each run in a prefix of their own.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
state=$WINEPREFIX/.talvor
wine=$(command -v wine64 || command -v wine)
wineserver=$(command -v wineserver64 || command -v wineserver || echo /usr/lib/wine/wineserver64)

# Wine's cabinet.dll has no Compression API. Our stand-in (test infrastructure, built as
# build/tests/cabinet.dll) goes into the prefix's system folder, where the setup looks for it, and
# the registry tells Wine to load it instead of its own only for our programs and test programs
# (by program name, which reaches child processes too); everything else keeps Wine's.
install_compress_api_standin() {
  local dll=$root/build/tests/cabinet.dll
  local target=$WINEPREFIX/drive_c/windows/system32/cabinet.dll
  [ -f "$dll" ] || return 0
  cmp -s "$dll" "$target" || cp "$dll" "$target"
  # The setup also runs as its uninstaller copy, under that copy's name.
  local programs=(Talvor-Kaldir.exe) path
  for path in "$root"/build/bin/*.exe "$root"/build/tests/*_test.exe "$root"/build/tests/*_bench.exe; do
    if [ -f "$path" ]; then programs+=("$(basename "$path")"); fi
  done
  [ "${programs[*]}" != "$(cat "$state/standin-programs" 2>/dev/null)" ] || return 0
  {
    echo REGEDIT4
    for path in "${programs[@]}"; do
      printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\DllOverrides]\n"cabinet"="native"\n' "$path"
    done
  } >"$state/standin.reg"
  "$wine" regedit /S "Z:$state/standin.reg" </dev/null >/dev/null 2>&1
  echo "${programs[*]}" >"$state/standin-programs"
}

stop() {
  "$wineserver" -k 2>/dev/null || true
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid" "$state/xvfb.display" "$state/xvfb.number"
  fi
}

start_display() {
  if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
    DISPLAY=$(cat "$state/xvfb.display")
    export DISPLAY
    return
  fi
  # Xvfb takes the first free display itself and writes its number once it accepts clients, so
  # that prefixes started side by side never pick the same one. A number left from an earlier
  # server (a prefix copied from the template has one) must be gone before the wait reads it.
  rm -f "$state/xvfb.display" "$state/xvfb.number"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 3>"$state/xvfb.number" &
  echo $! >"$state/xvfb.pid"
  for _ in $(seq 100); do [ -s "$state/xvfb.number" ] && break; sleep 0.1; done
  [ -s "$state/xvfb.number" ] || { echo "wine.sh: Xvfb did not start" >&2; exit 1; }
  echo ":$(tr -d '\n' <"$state/xvfb.number")" >"$state/xvfb.display"
  DISPLAY=$(cat "$state/xvfb.display")
  export DISPLAY
}

# Makes $WINEPREFIX a copy of the template prefix, booting the template first if no one has.
fresh() {
  local template=$root/build/wineprefix-template
  [ "$WINEPREFIX" != "$template" ] || { echo "wine.sh: --fresh needs a prefix other than the template" >&2; exit 64; }
  (
    flock -w 600 9 || { echo "wine.sh: the template prefix stayed locked" >&2; exit 1; }
    if [ ! -f "$template/.talvor/booted" ]; then
      rm -rf "$template"
      WINEPREFIX=$template "$root/scripts/wine.sh" cmd /c exit 0
      WINEPREFIX=$template "$root/scripts/wine.sh" --stop
      touch "$template/.talvor/booted"
    fi
  ) 9>"$root/build/wineprefix-template.lock" || exit 1
  stop
  rm -rf "$WINEPREFIX"
  cp -a "$template" "$WINEPREFIX"
}

case "${1:-}" in
  --stop) stop; exit 0 ;;
  --fresh) fresh; exit 0 ;;
  "") echo "usage: scripts/wine.sh PROGRAM [ARGS...] | --fresh | --stop" >&2; exit 64 ;;
esac

mkdir -p "$state"
if [ -z "${DISPLAY:-}" ]; then
  start_display
fi
if [ ! -f "$state/ready" ]; then
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1
  "$wineserver" -w
  touch "$state/ready"
fi
# The server is persistent (-p) until --stop; asking again while it runs fails and changes
# nothing. A server just started gets its services and desktop process started by a first
# program whose output goes nowhere: they live on, and must not hold the caller's pipes open
# (ctest would wait for them).
if "$wineserver" -p </dev/null >/dev/null 2>&1; then
  "$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
fi

install_compress_api_standin

program=$1
shift
exec "$wine" "$program" "$@"
