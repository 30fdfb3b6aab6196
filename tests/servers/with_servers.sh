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
trust_root=$build/tests/trust_root.exe
# A server not listening by then is not going to.
start_limit_s=20

work=$(mktemp -d -t talvor-servers.XXXXXX)
certs=$work/certs
served=$work/served
pids=()
trusted=
program=

fail() {
  echo "with_servers: $*" >&2
  exit 1
}

stop_servers() {
  [ ${#pids[@]} -gt 0 ] || return 0
  kill -TERM "${pids[@]}" 2>/dev/null || true
  local pid alive
  for _ in $(seq 50); do
    alive=
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ -n "$alive" ] || break
    sleep 0.1
  done
  kill -KILL "${pids[@]}" 2>/dev/null || true
  wait "${pids[@]}" 2>/dev/null || true
  pids=()
}

cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  if [ -n "$program" ]; then
    kill -TERM "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
  fi
  stop_servers
  if [ -n "$trusted" ]; then
    "$wine_sh" "$trust_root" sil "$trusted" </dev/null ||
      echo "with_servers: the test authority is still trusted in the prefix" >&2
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A port on 127.0.0.1 that nothing listened on a moment ago.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

accepts() {
  (: </dev/tcp/127.0.0.1/"$1") 2>/dev/null
}

# The port that the server NAME listens on, once it has told.
port() {
  cat "$work/$1.port" 2>/dev/null
}

# Waits until the server NAME, process PID, accepts connections on its port.
wait_listening() {
  local name=$1 pid=$2 deadline=$((SECONDS + start_limit_s))
  while [ $SECONDS -lt $deadline ]; do
    kill -0 "$pid" 2>/dev/null || { cat "$work/$name.log" >&2; fail "$name ended while starting"; }
    [ -n "$(port "$name")" ] && accepts "$(port "$name")" && return 0
    sleep 0.1
  done
  cat "$work/$name.log" >&2
  fail "$name did not listen within $start_limit_s s"
}

# Starts our test server as NAME, with the given extra options.
start_test_server() {
  local name=$1
  shift
  setpriv --pdeathsig TERM python3 "$here/test_http_server.py" --port-file="$work/$name.port" --root="$served" \
    "$@" </dev/null >"$work/$name.log" 2>&1 &
  pids+=($!)
  wait_listening "$name" $!
}

start_nginx() {
  local port prefix=$work/nginx user=
  port=$(free_port)
  echo "$port" >"$work/nginx.port"
  mkdir -p "$prefix/temp"
  # Workers of a master started as root would otherwise run as nobody, who cannot read our
  # private temporary folder.
  [ "$(id -u)" -ne 0 ] || user="user $(id -un) $(id -gn);"
  cat >"$prefix/nginx.conf" <<EOF
$user
daemon off;
worker_processes 1;
pid "$prefix/nginx.pid";
error_log "$work/nginx.log" info;
events { worker_connections 64; }
http {
  access_log "$prefix/access.log";
  client_body_temp_path "$prefix/temp/body";
  proxy_temp_path "$prefix/temp/proxy";
  fastcgi_temp_path "$prefix/temp/fastcgi";
  uwsgi_temp_path "$prefix/temp/uwsgi";
  scgi_temp_path "$prefix/temp/scgi";
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate "$certs/server.pem";
    ssl_certificate_key "$certs/server.key";
    location /guncelleme/ { alias "$served/"; }
    location / { return 404; }
  }
}
EOF
  # -e: the error log before the configuration is read, which would otherwise be a system file.
  setpriv --pdeathsig TERM nginx -e "$work/nginx.log" -p "$prefix" -c "$prefix/nginx.conf" \
    </dev/null >>"$work/nginx.log" 2>&1 &
  pids+=($!)
  wait_listening nginx $!
}

command -v nginx >/dev/null || fail "nginx is not installed (scripts/install-deps.sh)"
[ -f "$trust_root" ] || fail "$trust_root is not built"
mkdir -p "$served"
bash "$here/make_test_certs.sh" "$certs" || fail "could not make the test certificates"
"$wine_sh" "$trust_root" ekle "Z:$certs/ca.der" </dev/null || fail "could not trust the test authority"
trusted="Z:$certs/ca.der"

start_test_server http
start_test_server https --cert="$certs/server.pem" --key="$certs/server.key"
start_test_server wrongname --cert="$certs/wrongname.pem" --key="$certs/wrongname.key"
start_test_server untrusted --cert="$certs/untrusted.pem" --key="$certs/untrusted.key"
start_nginx

TALVOR_TEST_HTTP="http://127.0.0.1:$(port http)/"
TALVOR_TEST_HTTPS="https://127.0.0.1:$(port https)/"
TALVOR_TEST_HTTPS_WRONG_NAME="https://127.0.0.1:$(port wrongname)/"
TALVOR_TEST_HTTPS_UNTRUSTED="https://127.0.0.1:$(port untrusted)/"
TALVOR_TEST_NGINX="https://127.0.0.1:$(port nginx)/guncelleme/"
TALVOR_TEST_REFUSED="http://127.0.0.1:$(free_port)/"
TALVOR_TEST_SERVE_DIR="Z:${served//\//\\}"
export TALVOR_TEST_HTTP TALVOR_TEST_HTTPS TALVOR_TEST_HTTPS_WRONG_NAME TALVOR_TEST_HTTPS_UNTRUSTED TALVOR_TEST_NGINX \
  TALVOR_TEST_REFUSED TALVOR_TEST_SERVE_DIR

setpriv --pdeathsig TERM "$wine_sh" "$@" &
program=$!
if wait "$program"; then rc=0; else rc=$?; fi
program=
exit "$rc"
