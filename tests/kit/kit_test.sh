#!/usr/bin/env bash
# The Windows test kit's mechanics under Wine: made by scripts/windows-kit.sh from this build,
# unpacked from its zip into the prefix, and run through calistir.cmd with Wine's cmd.exe (the
# Compression API stand-in is the prefix's, as for every program of the build) on a selection: a
# fast program, one process test, a program that is missing, one that fails without a report, one
# that runs out of its time limit, and the releases for the machine's Compression API. Checks its
# lines, counts, report and exit code. As on a hosted Windows runner (C:\Users\RUNNER~1\...), the
# temporary folder is handed out by its short 8.3 name: Wine takes TEMP and TMP from the prefix's
# HKCU\Environment, and `winepath -s` gives a folder's short name. fetch_test runs once without a
# Python, its tests skipping with the reason, and once with the test servers the runner starts:
# the host's python3 as python.exe on PATH (host_python), and a certutil.exe that does what the
# runner asks of it (trust_root), as Wine's is a stub.
# Usage: kit_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$1
src=$2
work=$(mktemp -d)
# shellcheck source=tests/support/checks.sh
. "$src/tests/support/checks.sh"
checks_work=$work
trap 'rm -rf "$work"' EXIT
kit=${WINEPREFIX:?}/drive_c/kit

checks_step="making the kit"
check_true "windows-kit.sh gathers the kit" "$src/scripts/windows-kit.sh" --derlemeden
rm -rf "$kit"
check_true "the zip unpacks" python3 -m zipfile -e "$build/windows-kit.zip" "$work/acilan"
mv "$work/acilan/windows-kit" "$kit"
check_true "the kit has no Compression API of its own" test ! -e "$kit/tests/cabinet.dll"
# A program that ends without a report, as one that crashes at its start would, and one that
# hangs (idle_program stays a minute).
cp "$build/tests/exit_with.exe" "$kit/tests/bozuk_test.exe"
cp "$build/tests/idle_program.exe" "$kit/tests/asili_test.exe"

checks_step="a temporary folder by its short name"
mkdir -p "$WINEPREFIX/drive_c/users/Public/Gecici Klasor Uzun"
short=$("$src/scripts/wine.sh" winepath -s 'C:\users\Public\Gecici Klasor Uzun' | tr -d '\r')
check_true "the folder has a short name" grep -q '~' <<<"$short"
for name in TEMP TMP; do
  "$src/scripts/wine.sh" reg add 'HKCU\Environment' /v "$name" /d "$short" /f >/dev/null 2>&1
done
check "programs get it as TEMP and TMP" "$("$src/scripts/wine.sh" cmd /c 'echo %TEMP% %TMP%' | tr -d '\r')" \
  "$short $short"

# Runs the kit's runner; its lines without CR in $work/lines, its exit code in $code.
run_kit() {
  "$src/scripts/wine.sh" cmd /c 'C:\kit\calistir.cmd' "$@" </dev/null 2>/dev/null | tr -d '\r' >"$work/lines"
  code=${PIPESTATUS[0]}
}
line() { sed -n "$1p" "$work/lines"; }

checks_step="an unelevated start"
refusal=$("$src/scripts/wine.sh" "$build/tests/unelevated.exe" 'C:\kit\calistir.exe core_test' </dev/null 2>&1 | tr -d '\r')
code=${PIPESTATUS[0]}
check "one line says why" "$refusal" \
  'calistir: not elevated; run it from a command prompt opened with "Run as administrator". Nothing was run.'
check "the exit code tells a failure" "$code" 2
check_true "nothing was run" test ! -e "$kit/rapor"

checks_step="a selection with failures"
run_kit core_test 'install_run_test:InstallRunTest.FreshInstallPlacesEverything' yok_test bozuk_test \
  'fetch_test:HttpDownloadTest.StatusesOtherThan200' denetle
check "one line per program and release, the servers' absence, and the total" "$(wc -l <"$work/lines")" 9
check_true "core_test passed whole" grep -qE '^core_test: [1-9][0-9]* passed, 0 failed, 0 skipped \([0-9]+ s\)$' "$work/lines"
check "the process test" "$(line 2 | sed 's/ ([0-9]* s)$//')" "install_run_test: 1 passed, 0 failed, 0 skipped"
check "a missing program" "$(line 3)" "yok_test: missing"
check "a program without a report" "$(line 4 | sed 's/, [0-9]* s)$/)/')" "bozuk_test: no report (exit 0)"
check "no Python: said once" "$(line 5)" "fetch_test: the test servers are not running: no python.exe on PATH"
check "and its tests skip" "$(line 6 | sed 's/ ([0-9]* s)$//')" "fetch_test: 0 passed, 0 failed, 1 skipped"
check_true "with that reason" grep -q 'no test servers: no python.exe on PATH' "$kit/rapor/fetch_test.xml"
check "the large release decodes" "$(line 7)" "denetle buyuk-dosya: passed (exit 0)"
check "the release of many files decodes" "$(line 8)" "denetle kucuk-dosyalar: passed (exit 0)"
core=$(line 1 | sed -E 's/^core_test: ([0-9]+) passed.*/\1/')
check "the total" "$(line 9)" "$((core + 3)) passed, 2 failed, 1 skipped"
check "the exit code tells a failure" "$code" 1
check "ozet.txt holds the lines" "$(tr -d '\r' <"$kit/rapor/ozet.txt")" "$(cat "$work/lines")"
check_true "each program's XML report is kept" grep -q '<testcase name="FreshInstallPlacesEverything"' \
  "$kit/rapor/install_run_test.xml"
check_true "and its output" grep -q 'PASSED' "$kit/rapor/core_test.txt"

checks_step="a program that hangs"
run_kit --sinir=5 asili_test 'core_test:Format*'
check "its line says it was ended" "$(line 1)" "asili_test: ran out of its time limit of 5 s and was ended"
# Left unreaped for a moment, an ended Wine process shows as a zombie: only live ones count.
check_true "and it is gone" test -z "$(pgrep --runstates R,S,D,T -f 'asili_test\.exe')"
check_true "the next program runs" grep -qE '^core_test: [1-9][0-9]* passed, 0 failed, 0 skipped' "$work/lines"
check "ozet.txt has its line" "$(tr -d '\r' <"$kit/rapor/ozet.txt" | head -1)" "$(line 1)"
check "the exit code tells a failure" "$code" 1

checks_step="a selection that passes, with the test servers"
mkdir -p "$WINEPREFIX/drive_c/python"
cp "$build/tests/wine/python.exe" "$src/tests/standins/host_python.py" "$WINEPREFIX/drive_c/python/"
cp "$build/tests/trust_root.exe" "$WINEPREFIX/drive_c/windows/system32/certutil.exe"
WINEPATH='C:\python' WINEDLLOVERRIDES=certutil.exe=n run_kit 'core_test:Format*' \
  'fetch_test:HttpDownloadTest.StatusesOtherThan200:HttpDownloadTest.HttpsOnly*:ReleaseSourceTest.DownloadsAndLogsByFileName:ReleaseSourceTest.ReleaseFileFromNginxOverHttps'
check_true "one program's line" grep -qE '^core_test: [1-9][0-9]* passed, 0 failed, 0 skipped' "$work/lines"
check "the download tests ran against the servers" "$(sed -n 's/ ([0-9]* s)$//; /^fetch_test/p' "$work/lines")" \
  "fetch_test: 3 passed, 0 failed, 1 skipped"
check_true "nginx's test skips with the reason" grep -q 'no nginx beside the test server' "$kit/rapor/fetch_test.xml"
check_true "nothing failed" grep -qE '^[1-9][0-9]* passed, 0 failed, 1 skipped$' "$work/lines"
check "exit code 0" "$code" 0
authority=$(openssl x509 -inform DER -in "$kit/sunucu/sertifika/ca.der" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
check "the test authority left the machine's roots" \
  "$("$src/scripts/wine.sh" reg query 'HKLM\Software\Microsoft\SystemCertificates\Root\Certificates' 2>/dev/null |
    grep -ci "$authority")" 0
servers=
for pid in $(pgrep -f 'test_http_server.py --port-file=calisma/'); do
  [ "$(readlink "/proc/$pid/cwd")" != "$kit/sunucu" ] || servers+=" $pid"
done
check "the servers ended" "$servers" ""
check_true "their work folder is gone" test ! -e "$kit/sunucu/calisma"
checks_summary
