#!/usr/bin/env bash
# Runs a Windows test program against servers on the loopback, made for its run alone:
#
#   with_servers.sh BUILD_DIR WINE_SH PROGRAM [ARGS...]
#
# Fresh certificates are made and their authority trusted in the Wine prefix; our test server
# runs over HTTP and over HTTPS with a good, a misnamed and an untrusted certificate, and nginx
# serves the same folder over HTTPS. The program learns where from TALVOR_TEST_* variables.
# Whatever way this script ends, the servers are stopped, the authority is removed from the
# prefix and the temporary folder deleted; the exit code is the program's. The servers and the
# program also end by themselves if this script is killed outright.
set -euo pipefail

[ $# -ge 3 ] || { echo "usage: with_servers.sh BUILD_DIR WINE_SH PROGRAM [ARGS...]" >&2; exit 64; }
build=$1
wine_sh=$2
shift 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/servers/loopback_servers.sh
. "$here/loopback_servers.sh"
servers_who=with_servers
servers_wine_sh=$wine_sh
servers_trust_root=$build/tests/trust_root.exe

work=$(mktemp -d -t talvor-servers.XXXXXX)
servers_work=$work
certs=$work/certs
served=$work/served
program=

# shellcheck disable=SC2317 # runs from the exit trap
cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  if [ -n "$program" ]; then
    kill -TERM "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
  fi
  servers_stop
  servers_untrust || true
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Starts our test server as NAME, with the given extra options.
start_test_server() {
  local name=$1
  shift
  setpriv --pdeathsig TERM python3 "$here/test_http_server.py" --port-file="$work/$name.port" --root="$served" \
    "$@" </dev/null >"$work/$name.log" 2>&1 &
  servers_pids+=($!)
  servers_wait_listening "$name" $!
}

command -v nginx >/dev/null || servers_fail "nginx is not installed (scripts/install-deps.sh)"
[ -f "$servers_trust_root" ] || servers_fail "$servers_trust_root is not built"
mkdir -p "$served"
servers_trust_new_authority

start_test_server http
start_test_server https --cert="$certs/server.pem" --key="$certs/server.key"
start_test_server wrongname --cert="$certs/wrongname.pem" --key="$certs/wrongname.key"
start_test_server untrusted --cert="$certs/untrusted.pem" --key="$certs/untrusted.key"
servers_start_nginx "$served"

TALVOR_TEST_HTTP="http://127.0.0.1:$(servers_port http)/"
TALVOR_TEST_HTTPS="https://127.0.0.1:$(servers_port https)/"
TALVOR_TEST_HTTPS_WRONG_NAME="https://127.0.0.1:$(servers_port wrongname)/"
TALVOR_TEST_HTTPS_UNTRUSTED="https://127.0.0.1:$(servers_port untrusted)/"
TALVOR_TEST_NGINX="https://127.0.0.1:$(servers_port nginx)/guncelleme/"
TALVOR_TEST_REFUSED="http://127.0.0.1:$(servers_free_port)/"
TALVOR_TEST_SERVE_DIR="Z:${served//\//\\}"
export TALVOR_TEST_HTTP TALVOR_TEST_HTTPS TALVOR_TEST_HTTPS_WRONG_NAME TALVOR_TEST_HTTPS_UNTRUSTED TALVOR_TEST_NGINX \
  TALVOR_TEST_REFUSED TALVOR_TEST_SERVE_DIR

setpriv --pdeathsig TERM "$wine_sh" "$@" &
program=$!
if wait "$program"; then rc=0; else rc=$?; fi
program=
exit "$rc"
