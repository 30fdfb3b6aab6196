#!/usr/bin/env bash
# Benchmark: the LZMS decoder against wimlib's on a corpus of this machine's files, about 40 MiB
# of x86-64 programs and libraries (Linux and Windows ones, ours included) and 32 MiB of text
# (C headers and Python sources), each file compressed once by wimlib. Prints the corpus, both
# speeds and their ratio.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
list=$(mktemp -t talvor-bench.XXXXXX)
trap 'rm -f "$list"' EXIT

# Files from 16 KiB to 4 MiB under the folders given after `limit` and `filter`, largest first,
# until `limit` bytes; `filter` keeps a file.
pick() {
  local limit=$1 filter=$2
  shift 2
  while read -r size path; do
    [ "$limit" -gt 0 ] || break
    "$filter" "$path" || continue
    echo "$path"
    limit=$((limit - size))
  done < <(find "$@" -type f -size +16k -size -5M -printf '%s %p\n' 2>/dev/null | sort -rn)
}
# ELF programs and libraries, and Windows ones (Wine's x64 DLLs).
is_program() { case $(head -c 4 "$1" | od -An -tx1 | tr -d ' ') in 7f454c46 | 4d5a*) true ;; *) false ;; esac; }
is_source() { case $1 in *.[hc] | *.py) ! grep -qP '\x00' "$1" ;; *) false ;; esac; }

ls "$root"/build/bin/*.exe >"$list"
pick $((40 << 20)) is_program /usr/bin /usr/lib/x86_64-linux-gnu >>"$list"
pick $((32 << 20)) is_source /usr/include /usr/lib/python3 >>"$list"
xargs -d '\n' "$root/build/native/lzms_bench" <"$list"
