#!/usr/bin/env bash
# Prints which product folder includes which, one "from -> to (count)" line per pair, from the
# quoted #include lines of the setup's sources. With --check, prints every include that points
# up the layering instead and fails when there is one.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Top to bottom: a folder may include only folders after it.
folders="app ui install uninstall registration service fetch release core"

# "from to file:line:text" for every include of another product folder.
edges() {
  cd "$root"
  local sources
  # shellcheck disable=SC2086 # folders is a list of words
  mapfile -t sources < <(git ls-files $folders | grep -E '\.(cpp|h)$')
  grep -Hn '^#include "[a-z_]*/' "${sources[@]}" |
    sed -E 's|^(([a-z_]+)/[^:]*:[0-9]+:#include "([a-z_]+)/.*)$|\2 \3 \1|' |
    awk '$1 != $2'
}

rank() {
  local i=0 f
  for f in $folders; do
    [ "$f" = "$1" ] && { echo $i; return; }
    i=$((i + 1))
  done
  echo 99
}

if [ "${1:-}" != "--check" ]; then
  edges | awk '{ count[$1 " -> " $2]++ } END { for (pair in count) print pair " (" count[pair] ")" }' | sort
  exit 0
fi

bad=0
while read -r from to site; do
  # The plain tree removal is shared with extraction by design: the one upward arrow.
  case "$site" in *'"uninstall/remove_tree.h"') continue ;; esac
  if [ "$(rank "$from")" -ge "$(rank "$to")" ]; then
    echo "upward include: $site" >&2
    bad=1
  fi
done < <(edges)
exit $bad
