#!/usr/bin/env bash
# Makes the Windows test kit: build/windows-kit/ and build/windows-kit.zip, everything a Windows 10
# or 11 machine needs to run the Windows test programs natively, with no other download:
#
#   scripts/windows-kit.sh                builds the project first (installing what it needs)
#   scripts/windows-kit.sh --derlemeden   only gathers what build/ already holds
#
# The kit's layout is the build folder's, as the test programs find their files from their own
# place: bin/ (the setup and the checker), tests/ (the test programs and their stand-ins), product/
# (the stand-in product programs), resources/, kaynak/ (the source files the tests read: the
# development key, the Compression API samples, the configured public key), denetim/ (releases for
# the checker to take with the machine's own Compression API), sunucu/ (the download tests' server
# and certificates), and the runner calistir.cmd with
# programlar.txt, the programs it runs when none is named. The Compression API stand-in is not in
# the kit: on Windows the machine's own cabinet.dll is the one to test.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build
if [ "${1:-}" != "--derlemeden" ]; then
  "$root/scripts/install-deps.sh"
  "$root/scripts/build.sh"
fi

key=$(sed -n 's/^TALVOR_RELEASE_PUBLIC_KEY:FILEPATH=//p' "$build/CMakeCache.txt")
if ! cmp -s "$key" "$root/keys/dev-release.pub"; then
  echo "windows-kit.sh: the setup in build/ trusts $key, not the development key the kit's releases are signed with" >&2
  exit 1
fi

kit=$build/windows-kit
rm -rf "$kit" "$build/windows-kit.zip"
mkdir -p "$kit"/{bin,tests,product,resources,kaynak/keys,kaynak/tests/data,denetim}
cp "$build/bin/Talvor-Kurulum.exe" "$build/bin/talvor-denetle.exe" "$kit/bin/"
for file in "$build"/tests/*.exe "$build"/tests/*.dll; do
  case $(basename "$file") in
    cabinet.dll | *_bench.exe) ;;
    *) x86_64-w64-mingw32-strip -o "$kit/tests/$(basename "$file")" "$file" ;;
  esac
done
cp "$build"/product/* "$kit/product/"
cp "$build/resources/talvor.ico" "$kit/resources/"
cp "$root/keys/dev-release.pem" "$kit/kaynak/keys/"
cp "$key" "$kit/kaynak/release.pub"
cp -r "$root/tests/data/compress-api-lzms" "$kit/kaynak/tests/data/"
cp "$build/kit/calistir.exe" "$kit/"

# The loopback test server for the download tests, run by the runner with the machine's Python,
# and certificates made for this kit, valid long enough to reach the machine that runs it. The
# authority's private key stays behind: the runner trusts the authority machine-wide for the
# run, and nobody holding the kit can issue a certificate under it.
mkdir -p "$kit/sunucu"
cp "$root/tests/servers/test_http_server.py" "$kit/sunucu/"
bash "$root/tests/servers/make_test_certs.sh" "$kit/sunucu/sertifika" 90
rm "$kit/sunucu/sertifika/ca.key" "$kit/sunucu/sertifika/ca.pem"
printf '@echo off\r\nrem Runs the Windows test programs; see OKU.txt.\r\n"%%~dp0calistir.exe" %%*\r\nexit /b %%errorlevel%%\r\n' \
  >"$kit/calistir.cmd"
# The test programs in the order they run; the checker's releases last.
for program in "$kit"/tests/*_test.exe; do basename "$program" .exe; done | sed 's/$/\r/' >"$kit/programlar.txt"
printf 'denetle\r\n' >>"$kit/programlar.txt"

# Two releases of the stand-in product for the checker, packed by the release tool and signed with
# the development key: one whose largest file is over 64 MiB (compressible text, so the kit stays
# small, and its package holds chunks of the full buffer size), and one of many small files.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
release() {
  local name=$1 folder=$work/$1 target=$kit/denetim/$1
  mkdir -p "$target"
  "$build/bin/talvor-yayin" paket-yap --surum=1.0.0 --sessiz "$folder" "$target/paket-1.0.0.tpk" >/dev/null
  "$build/bin/talvor-yayin" bildirim-yaz --anahtar="$root/keys/dev-release.pem" --cikti="$target/bildirim.tdb" \
    --paket="program:1.0.0:$target/paket-1.0.0.tpk" >/dev/null
}
for name in buyuk-dosya kucuk-dosyalar; do
  mkdir -p "$work/$name"
  cp "$build"/product/* "$work/$name/"
done
(cd "$root" && git ls-files -z '*.cpp' '*.h' '*.md' | xargs -0 cat) >"$work/metin"
python3 - "$work" <<'EOF'
import random, sys
work = sys.argv[1]
text = open(f"{work}/metin", "rb").read()
with open(f"{work}/buyuk-dosya/buyuk.txt", "wb") as out:
    written, copy = 0, 0
    while written < 72 << 20:
        part = b"--- kopya %d ---\n" % copy + text
        out.write(part)
        written, copy = written + len(part), copy + 1
rng = random.Random(29)
for i in range(2000):
    with open(f"{work}/kucuk-dosyalar/dosya-{i:04d}.txt", "wb") as out:
        start = rng.randrange(len(text) - 4000)
        out.write(text[start:start + rng.randrange(1, 3000)])
EOF
release buyuk-dosya
release kucuk-dosyalar

cat >"$kit/OKU.txt" <<'EOF'
Talvor Kurulum: the Windows test kit.

The machine: Windows 10 or 11 that may be changed, best a virtual machine with a snapshot to go
back to afterwards. The tests install and remove the product's stand-in service "Talvor", write
under Program Files, ProgramData and the registry, and take the product off the machine before
and after.

Before the first run, in PowerShell:

  Unblock-File .\windows-kit.zip        before unpacking: the unpacked files then carry no download
                                        mark, and SmartScreen does not stop the unsigned programs
  Get-ChildItem -Recurse C:\kit | Unblock-File
                                        the same for a kit already unpacked (here into C:\kit)

Smart App Control (Windows Security > App & browser control) stops unsigned programs whatever
their mark and knows no exceptions: where it is On, the test programs cannot run. Use a machine
where it is Off.

Fewer disturbances (optional, in an elevated PowerShell): Microsoft Defender scanning every file
the tests write slows them and may hold a file a test is about to delete. Exclude the kit's
folder and the temporary folder for the run, and take the exclusions off afterwards:

  Add-MpPreference -ExclusionPath C:\kit, $env:TEMP
  Remove-MpPreference -ExclusionPath C:\kit, $env:TEMP

The download tests (fetch_test, the wizard's server cases) need Python 3.7 or later as python.exe
on PATH (a hosted runner has it): the runner starts the kit's test server with it, and trusts the
kit's test authority in the machine's root store with certutil for as long as they run. Without
Python those tests skip and say why.

Run calistir.cmd from an elevated command prompt ("Run as administrator"); without one it says so
and runs nothing.

  calistir.cmd                          every program in programlar.txt, then the releases in denetim
  calistir.cmd core_test                one program
  calistir.cmd install_run_test:InstallRunTest.Fresh*   one program with a GoogleTest filter
  calistir.cmd denetle                  only the releases, with this machine's Compression API
  calistir.cmd --sinir=3600 core_test   a time limit of an hour for each program (20 minutes unless given)

One line per program, and last "N passed, N failed, N skipped"; the exit code is 0 only when nothing
failed. A program that runs out of its time limit is ended with every process it started, counted
as failed, and its line says so. The folder rapor holds each program's output (.txt) and
GoogleTest XML (.xml), each release's checker output, and ozet.txt with the lines printed, each
written as it is printed.
EOF

(cd "$build" && python3 -m zipfile -c windows-kit.zip windows-kit)
echo "$kit ($(du -sh "$kit" | cut -f1)), $build/windows-kit.zip ($(du -h "$build/windows-kit.zip" | cut -f1))"
