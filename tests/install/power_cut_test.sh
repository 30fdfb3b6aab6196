#!/usr/bin/env bash
# A power cut at any moment of a first install (1.0.0), an update (2.0.0) and a removal leaves a
# store that works. The three runs are made for real under Wine with their file operations
# traced: Wine's server creates, renames and deletes, the programs write and flush, so both are
# traced, with timestamps that put them in one order. power_cut_check.py then checks every state a
# cut after one of those operations may leave.
# Usage: power_cut_test.sh BUILD_DIR SOURCE_DIR (in a prefix of its own, WINEPREFIX)
# shellcheck disable=SC2317 # the helpers run through check_true
set -uo pipefail

build=$1
src=$2
wine_sh=$src/scripts/wine.sh
work=$(mktemp -d)
# shellcheck source=tests/support/checks.sh
. "$src/tests/support/checks.sh"
checks_work=$work
trap 'rm -rf "$work"' EXIT
install_dir=${WINEPREFIX:?}/drive_c/Program\ Files/Talvor
wineserver=$(command -v wineserver64 || command -v wineserver || echo /usr/lib/wine/wineserver64)
name_calls=openat,rename,renameat,renameat2,unlink,unlinkat,mkdir,mkdirat,rmdir,ftruncate,fsync,fdatasync
mkdir "$work/trace"

# Published within a second of each other: the serials are given, rising, as the setup demands.
serial=0
for version in 1.0.0 2.0.0; do
  serial=$((serial + 1))
  "$build/bin/talvor-yayin" yayinla --anahtar="$src/keys/dev-release.pem" --surum=$version --seri=$serial \
    --kurulum="$build/bin/Talvor-Kurulum.exe" "$build/product" "$work/yayin-$version" >/dev/null 2>&1
done

# The prefix's one server, started under strace (seccomp lets every other call run untraced),
# ready once it listens, and booted by a first program as scripts/wine.sh would.
"$wine_sh" --stop
strace -ff -ttt -y --seccomp-bpf -e trace="$name_calls,listen" -o "$work/trace/server" "$wineserver" -f -p \
  </dev/null >/dev/null 2>&1 &
tracer=$!
for _ in $(seq 100); do grep -qs '^[0-9.]* listen(' "$work"/trace/server.* && break; sleep 0.1; done
"$wine_sh" cmd /c exit 0 </dev/null >/dev/null 2>&1

# Runs a program under Wine traced, notes the run's times and what the folder holds after it.
traced() { # NAME KIND PROGRAM ARGS...
  local name=$1 kind=$2 start status
  shift 2
  start=$(date +%s.%N)
  strace -ff -ttt -y -s 300 --seccomp-bpf -e trace="$name_calls,write,pwrite64,writev,pwritev" \
    -o "$work/trace/$name" "$wine_sh" "$@" </dev/null
  status=$?
  echo "$name $kind $start $(date +%s.%N)" >>"$work/runs"
  find "$install_dir" -mindepth 1 -printf '%P\n' >"$work/$name.after"
  return "$status"
}

setup=$build/bin/Talvor-Kurulum.exe
check_true "1.0.0 installs" traced install install "$setup" /sessiz --yerel="Z:$work/yayin-1.0.0"
check_true "2.0.0 updates it" traced update install "$setup" /sessiz --yerel="Z:$work/yayin-2.0.0"
check_true "the removal removes it" traced removal removal 'C:\Program Files\Talvor\Talvor-Kaldir.exe' /kaldir /sessiz
"$wine_sh" --stop
wait "$tracer"

python3 "$src/tests/install/power_cut_check.py" "$work" "$WINEPREFIX"
check "every state a power cut may leave has a whole store" "$?" 0
checks_summary
