#!/usr/bin/env bash
# The main job: builds the setup and runs it under Wine with the arguments given (by default a
# silent install), then shows the log it wrote. Ends the prefix's servers when done.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh" || exit 1
trap '"$root/scripts/wine.sh" --stop' EXIT
[ $# -gt 0 ] || set -- /sessiz

prefix=${WINEPREFIX:-$root/build/wineprefix}
logs=("$prefix/drive_c/Program Files/Talvor/kurulum.log" "$prefix/drive_c/users/$(id -un)/Temp/Talvor-Kaldir.log")
rm -f "${logs[@]}"

"$root/scripts/wine.sh" "$root/build/bin/Talvor-Kurulum.exe" "$@"
code=$?
echo "Talvor-Kurulum.exe $* -> exit code $code"

for log in "${logs[@]}"; do
  if [ -f "$log" ]; then
    echo "--- $log"
    cat "$log"
  fi
done
exit $code
