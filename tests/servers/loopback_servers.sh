# shellcheck shell=bash
# Servers on the loopback for Windows programs in the Wine prefix, as shell functions to source:
# a certificate authority made for the run and trusted only inside the prefix, nginx serving a
# folder over HTTPS at /guncelleme/ with the update server's own configuration, and the waiting
# and stopping every server needs. Used by tests/servers/with_servers.sh, scripts/demo.sh and
# tests/servers/update_server_test.sh.
#
# Before calling them, the caller sets:
#   servers_work        a private temporary folder of its own: certificates (certs/), nginx's
#                       files, every server's log NAME.log and port file NAME.port
#   servers_wine_sh     scripts/wine.sh
#   servers_trust_root  build/tests/trust_root.exe
#   servers_who         the name its messages start with
# and calls servers_stop and servers_untrust from its exit trap. Every server is started with
# --pdeathsig, so it also ends when the caller is killed outright.

# shellcheck disable=SC2154 # servers_work, servers_wine_sh, servers_trust_root, servers_who: set by the caller
servers_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# A server not listening by then is not going to.
servers_start_limit_s=20
servers_pids=()
servers_trusted=

servers_fail() {
  echo "$servers_who: $*" >&2
  exit 1
}

# A port on 127.0.0.1 that nothing listened on a moment ago.
servers_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

servers_accepts() {
  (: </dev/tcp/127.0.0.1/"$1") 2>/dev/null
}

# The port that the server NAME listens on, once it has told.
servers_port() {
  cat "$servers_work/$1.port" 2>/dev/null
}

# Waits until the server NAME, process PID, accepts connections on its port.
servers_wait_listening() {
  local name=$1 pid=$2 deadline=$((SECONDS + servers_start_limit_s))
  while [ $SECONDS -lt $deadline ]; do
    kill -0 "$pid" 2>/dev/null || { cat "$servers_work/$name.log" >&2; servers_fail "$name ended while starting"; }
    [ -n "$(servers_port "$name")" ] && servers_accepts "$(servers_port "$name")" && return 0
    sleep 0.1
  done
  cat "$servers_work/$name.log" >&2
  servers_fail "$name did not listen within $servers_start_limit_s s"
}

# Ends every server started here: asked first, killed after 5 s.
servers_stop() {
  [ ${#servers_pids[@]} -gt 0 ] || return 0
  kill -TERM "${servers_pids[@]}" 2>/dev/null || true
  local pid alive
  for _ in $(seq 50); do
    alive=
    for pid in "${servers_pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ -n "$alive" ] || break
    sleep 0.1
  done
  kill -KILL "${servers_pids[@]}" 2>/dev/null || true
  wait "${servers_pids[@]}" 2>/dev/null || true
  servers_pids=()
}

# Makes fresh certificates in $servers_work/certs (see make_test_certs.sh) and trusts their
# authority in the prefix.
servers_trust_new_authority() {
  local certs=$servers_work/certs
  bash "$servers_here/make_test_certs.sh" "$certs" || servers_fail "could not make the test certificates"
  local code=0
  "$servers_wine_sh" "$servers_trust_root" ekle "Z:$certs/ca.der" </dev/null || code=$?
  [ "$code" -eq 0 ] || servers_fail "could not trust the test authority (exit code $code)"
  servers_trusted="Z:$certs/ca.der"
}

# Removes the authority from the prefix again, if it was trusted; false when it stays.
servers_untrust() {
  [ -n "$servers_trusted" ] || return 0
  if timeout -k 5 120 "$servers_wine_sh" "$servers_trust_root" sil "$servers_trusted" </dev/null; then
    servers_trusted=
    return 0
  fi
  echo "$servers_who: the test authority is still trusted in the prefix" >&2
  return 1
}

# Starts nginx as the server "nginx" with the update server's configuration from the repository
# (server/guncelleme.conf): HTTPS on a free port of 127.0.0.1 with the certificate for 127.0.0.1,
# FOLDER served at /guncelleme/.
servers_start_nginx() {
  local served=$1 certs=$servers_work/certs prefix=$servers_work/nginx port user='' conf
  command -v nginx >/dev/null || servers_fail "nginx is not installed (scripts/install-deps.sh)"
  port=$(servers_free_port)
  echo "$port" >"$servers_work/nginx.port"
  mkdir -p "$prefix/temp"
  conf=$(<"$servers_here/../../server/guncelleme.conf") || servers_fail "server/guncelleme.conf is missing"
  conf=${conf//@LISTEN@/"127.0.0.1:$port"}
  conf=${conf//@SERVER_NAME@/127.0.0.1}
  conf=${conf//@CERTIFICATE@/"$certs/server.pem"}
  conf=${conf//@CERTIFICATE_KEY@/"$certs/server.key"}
  conf=${conf//@RELEASE_FOLDER@/"$(cd "$served" && pwd)"}
  printf '%s\n' "$conf" >"$prefix/guncelleme.conf"
  # Workers of a master started as root would otherwise run as nobody, who cannot read our
  # private temporary folder.
  [ "$(id -u)" -ne 0 ] || user="user $(id -un) $(id -gn);"
  cat >"$prefix/nginx.conf" <<EOF
$user
daemon off;
worker_processes 1;
pid "$prefix/nginx.pid";
error_log "$servers_work/nginx.log" info;
events { worker_connections 64; }
http {
  access_log "$prefix/access.log";
  client_body_temp_path "$prefix/temp/body";
  proxy_temp_path "$prefix/temp/proxy";
  fastcgi_temp_path "$prefix/temp/fastcgi";
  uwsgi_temp_path "$prefix/temp/uwsgi";
  scgi_temp_path "$prefix/temp/scgi";
  include "$prefix/guncelleme.conf";
}
EOF
  # -e: the error log before the configuration is read, which would otherwise be a system file.
  # nginx and what it prints before it reads its configuration go to the same log, on purpose.
  # shellcheck disable=SC2094
  setpriv --pdeathsig TERM nginx -e "$servers_work/nginx.log" -p "$prefix" -c "$prefix/nginx.conf" \
    </dev/null >>"$servers_work/nginx.log" 2>&1 &
  servers_pids+=($!)
  servers_wait_listening nginx $!
}
