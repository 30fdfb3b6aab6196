#!/usr/bin/env bash
# The update server's nginx configuration (server/guncelleme.conf) as the tests and the demo run
# it, asked with curl: what it serves, with which caching headers, and what it refuses.
# Usage: update_server_test.sh
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/servers/loopback_servers.sh
. "$here/loopback_servers.sh"
# shellcheck source=tests/support/checks.sh
. "$here/../support/checks.sh"
servers_who=update_server_test
servers_work=$(mktemp -d -t talvor-update-server.XXXXXX)
trap 'servers_stop; rm -rf "$servers_work"' EXIT
served=$servers_work/served

# STATUS and the named response header (lowercase name, value as sent) of a request.
ask() { # PATH HEADER [CURL OPTIONS...]
  local path=$1 header=$2
  shift 2
  curl -s -o /dev/null -D - --cacert "$servers_work/certs/ca.pem" "$@" "$base$path" | tr -d '\r' |
    awk -v h="$header" 'NR == 1 { status = $2 } tolower($0) ~ "^" h ": " { sub(/^[^:]*: /, ""); value = $0 }
      END { print status " " value }'
}

mkdir -p "$served"
bash "$here/make_test_certs.sh" "$servers_work/certs" >/dev/null || servers_fail "could not make the certificates"
head -c 100000 /dev/urandom >"$served/paket-1.0.0.tpk"
head -c 100 /dev/urandom >"$served/bildirim.tdb"
head -c 100 /dev/urandom >"$served/ozel-ad.tpk"
echo "yarım" >"$served/.paket-1.1.0.tpk.Ab12Cd"
echo "not" >"$served/notlar.txt"
servers_start_nginx "$served"
base="https://127.0.0.1:$(servers_port nginx)"

check "the manifest is never cached" "$(ask /guncelleme/bildirim.tdb cache-control)" "200 no-store"
check "a versioned package is cached for a year" "$(ask /guncelleme/paket-1.0.0.tpk cache-control)" \
  "200 public, max-age=31536000, immutable"
check "a package named otherwise is revalidated" "$(ask /guncelleme/ozel-ad.tpk cache-control)" "200 no-cache"
check "release files are bytes" "$(ask /guncelleme/bildirim.tdb content-type)" "200 application/octet-stream"
check "HTTPS is required for a year" "$(ask /guncelleme/paket-1.0.0.tpk strict-transport-security)" \
  "200 max-age=31536000"
check "the server names no version" "$(ask /guncelleme/bildirim.tdb server)" "200 nginx"
check "a package is served whole" "$(curl -s --cacert "$servers_work/certs/ca.pem" "$base/guncelleme/paket-1.0.0.tpk" |
  cmp - "$served/paket-1.0.0.tpk" && echo same)" "same"
check "a package is served in ranges" "$(ask /guncelleme/paket-1.0.0.tpk content-length -r 100-199)" "206 100"
check "no listing of the release folder" "$(ask /guncelleme/ x)" "404 "
check "no temporary file of a publish under way" "$(ask /guncelleme/.paket-1.1.0.tpk.Ab12Cd x)" "404 "
check "nothing but release files" "$(ask /guncelleme/notlar.txt x)" "404 "
check "nothing outside the release folder" "$(ask /guncelleme/..%2f..%2f..%2fetc%2fpasswd x --path-as-is)" "400 "
check "nothing outside /guncelleme/" "$(ask /bildirim.tdb x)" "404 "
check "no uploads" "$(ask /guncelleme/bildirim.tdb x -X PUT --data-binary x)" "403 "
check "no plain HTTP" "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$(servers_port nginx)/guncelleme/bildirim.tdb")" \
  "400"

checks_summary
