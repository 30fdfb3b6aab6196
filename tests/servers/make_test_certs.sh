#!/usr/bin/env bash
# Makes fresh certificates for the loopback test servers in OUTDIR, valid for DAYS days (3 unless
# given: the Windows test kit's must last until someone runs the kit):
#   ca.pem ca.key ca.der        a test authority, trusted in the Wine prefix for the run
#   server.pem server.key       127.0.0.1, issued by that authority
#   wrongname.pem wrongname.key issued by the same authority, for baska.test only
#   untrusted.pem untrusted.key self-signed for 127.0.0.1: an authority nobody trusts
# 127.0.0.1 is named both as an IP address, which TLS clients match an address against, and as
# a DNS name, the only kind Wine's certificate policy compares. Names carry a random tag, so
# that an authority left behind by an interrupted run is never taken for the issuer of the next
# run's certificates.
set -euo pipefail

[ $# -eq 1 ] || [ $# -eq 2 ] || { echo "usage: make_test_certs.sh OUTDIR [DAYS]" >&2; exit 64; }
days=${2:-3}
mkdir -p "$1"
cd "$1"
umask 077
tag=$(openssl rand -hex 4)

leaf='basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash'

# cert NAME COMMON_NAME EXTENSIONS [ISSUER]: a new RSA key NAME.key and NAME.pem, valid for $days
# days, signed by ISSUER.pem/ISSUER.key or by its own key.
cert() {
  local name=$1 cn=$2 extensions=$3 issuer=${4:-}
  openssl genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$name.key"
  openssl req -new -sha256 -key "$name.key" -subj "/O=Tekvar Deneme/CN=$cn" -out "$name.csr"
  printf '%s\n' "$extensions" >"$name.ext"
  local signer=(-key "$name.key")
  if [ -n "$issuer" ]; then
    signer=(-CA "$issuer.pem" -CAkey "$issuer.key")
    echo "authorityKeyIdentifier = keyid" >>"$name.ext"
  fi
  # Quiet unless it fails: openssl reports every signature it checks.
  openssl x509 -req -sha256 -days "$days" -in "$name.csr" "${signer[@]}" -set_serial "0x$(openssl rand -hex 8)" \
    -extfile "$name.ext" -out "$name.pem" 2>"$name.log" || { cat "$name.log" >&2; exit 1; }
  rm -f "$name.csr" "$name.ext" "$name.log"
}

cert ca "Talvor Deneme CA $tag" 'basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash'
openssl x509 -in ca.pem -outform DER -out ca.der
cert server "127.0.0.1 $tag" "$leaf
subjectAltName = IP:127.0.0.1, DNS:127.0.0.1" ca
cert wrongname "baska.test $tag" "$leaf
subjectAltName = DNS:baska.test" ca
cert untrusted "127.0.0.1 $tag" "$leaf
subjectAltName = IP:127.0.0.1, DNS:127.0.0.1"
chmod 644 ./*.pem ca.der
