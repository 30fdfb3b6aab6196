#!/usr/bin/env bash
# Signs Windows programs (the setup, the checker) with an Authenticode signature over SHA-256, so
# that Windows names the publisher when the setup asks for administrator rights:
#
#   scripts/imzala.sh --sertifika=CERT.pem --anahtar=KEY.pem [--zaman-damgasi=URL] PROGRAM.exe...
#   scripts/imzala.sh --pfx=CERT.p12 [--parola-dosyasi=FILE] [--zaman-damgasi=URL] PROGRAM.exe...
#
# The certificate is a code-signing certificate with its chain (PEM, with its unencrypted PEM
# key), or a PKCS #12 file (its password, if any, read from a file, never from the command line).
# --zaman-damgasi names an RFC 3161 time-stamp server; without it the signature carries no time
# stamp and stops verifying once the certificate expires. Each program is signed in place: a
# signed copy is written beside it and replaces it only when signing succeeded.
# Exit code 0 when every program was signed, 1 when one was not, 2 for a bad command line.
set -uo pipefail

usage() {
  echo "imzala.sh: $*" >&2
  echo "kullanım: imzala.sh (--sertifika=CERT.pem --anahtar=KEY.pem | --pfx=CERT.p12 [--parola-dosyasi=DOSYA]) [--zaman-damgasi=URL] PROGRAM.exe..." >&2
  exit 2
}

cert='' key='' pfx='' passfile='' timestamp='' programs=()
for argument in "$@"; do
  case $argument in
    --sertifika=?*) cert=${argument#*=} ;;
    --anahtar=?*) key=${argument#*=} ;;
    --pfx=?*) pfx=${argument#*=} ;;
    --parola-dosyasi=?*) passfile=${argument#*=} ;;
    --zaman-damgasi=?*) timestamp=${argument#*=} ;;
    -*) usage "bilinmeyen seçenek: $argument" ;;
    *) programs+=("$argument") ;;
  esac
done
[ ${#programs[@]} -gt 0 ] || usage "imzalanacak program yok"
if [ -n "$pfx" ]; then
  [ -z "$cert$key" ] || usage "--pfx ile --sertifika ya da --anahtar birlikte verilmez"
  signer=(-pkcs12 "$pfx")
  [ -z "$passfile" ] || signer+=(-readpass "$passfile")
else
  if [ -z "$cert" ] || [ -z "$key" ]; then usage "--sertifika ile --anahtar, ya da --pfx gerekli"; fi
  [ -z "$passfile" ] || usage "--parola-dosyasi yalnız --pfx ile"
  signer=(-certs "$cert" -key "$key")
fi
stamp=()
[ -z "$timestamp" ] || stamp=(-ts "$timestamp")
command -v osslsigncode >/dev/null || { echo "imzala.sh: osslsigncode yok (scripts/install-deps.sh)" >&2; exit 1; }

rc=0
for program in "${programs[@]}"; do
  signed=$(mktemp "$(dirname "$program")/.imzali.XXXXXX") || { rc=1; continue; }
  # osslsigncode refuses to write over an existing output file.
  rm -f "$signed"
  if osslsigncode sign "${signer[@]}" -h sha256 -n "Talvor Kurulum" -i "https://www.tekvar.com.tr/talvor/" \
    "${stamp[@]}" -in "$program" -out "$signed" >"$signed.log" 2>&1 &&
    chmod --reference="$program" "$signed" && mv -f "$signed" "$program"; then
    echo "imzalandi=$program"
  else
    echo "imzala.sh: $program imzalanamadı: $(tail -n 1 "$signed.log")" >&2
    rm -f "$signed"
    rc=1
  fi
  rm -f "$signed.log"
done
exit "$rc"
