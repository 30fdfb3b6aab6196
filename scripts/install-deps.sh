#!/usr/bin/env bash
# Installs, from Debian's packages and only where missing, what the build and the tests need;
# with --bench also the peers the benchmarks compare against.
set -euo pipefail

packages=(
  cmake ninja-build python3 g++ # build; g++ builds the native release tool
  g++-mingw-w64-x86-64-posix    # the Windows toolchain
  googletest                    # built from source, for Windows and natively
  libssl-dev                    # the release tool signs with OpenSSL
  libwim-dev                    # wimlib's LZMS: the release tool's compressor, the decoder's peer in tests
  wine wine64 xvfb              # running the Windows programs and their windows
  # The tests start their own nginx on a free loopback port; a system one that the package may
  # start on port 80 plays no part. (Debian's nginx-light is only nginx plus an extra module.)
  nginx openssl curl            # download tests: a real server, test certificates; a benchmark peer
  zlib1g-dev                    # CRC-32 in the LZMS decoder's tests
  clang libclang-rt-dev         # the libFuzzer targets and the sanitized native build
  x11-apps imagemagick fonts-wine # pictures of the setup's pages: screen captures, cropping, Wine's own fonts
  osslsigncode                  # Authenticode signatures of the setup and the checker
  python3-jsonschema python3-yaml # the package-manager manifests checked against their schemas
  shellcheck                    # the scripts kept clean by a test
  strace                        # the file operations of setup runs, for the power-cut test
)
if [ "${1:-}" = "--bench" ]; then
  packages+=(nsis xz-utils)     # the packers paket-yap is measured against (scripts/bench-pack.sh)
fi

missing=()
for p in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || missing+=("$p")
done
# Node.js and npm for the workflow linter (tests/kit/lint_workflows.sh), from wherever they came.
command -v npm >/dev/null || missing+=(nodejs npm)
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -qq
# sudo clears the environment: the setting goes through env, past it.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
