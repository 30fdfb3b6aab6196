#!/usr/bin/env bash
# The main job: builds everything, publishes a demo release with the development key (a signed
# manifest and a package of the stand-in product programs in build/demo-release), checks it with
# the release checker as the setup will take it, then runs the setup under Wine against it (by default a silent
# install from that folder; other arguments replace the default) and shows the log it wrote.
# Ends the prefix's servers when done.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh" || exit 1
trap '"$root/scripts/wine.sh" --stop' EXIT

release=$root/build/demo-release
rm -rf "$release"
mkdir -p "$release"
line=$("$root/build/bin/talvor-yayin" paket-yap --surum=1.0.0 "$root/build/product" "$release/paket-1.0.0.tpk") || exit 1
"$root/build/bin/talvor-yayin" bildirim-yaz --anahtar="$root/keys/dev-release.pem" \
  --cikti="$release/bildirim.tdb" "$line" || exit 1
echo "--- demo release $release, as the checker sees it:"
"$root/scripts/wine.sh" "$root/build/bin/talvor-denetle.exe" --yerel="Z:$release" | tr -d '\r'

[ $# -gt 0 ] || set -- /sessiz --yerel="Z:$release"
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
