# shellcheck shell=bash
# Sourced by the benchmarks: make_bench_corpus FOLDER fills FOLDER with the machine's executables
# and shared libraries, text from its documentation, and data that does not compress: about 150,
# 26 and 130 MiB, which packs to about 200 MiB.

fill_bench_folder() { # FOLDER BUDGET_BYTES: copies the files named on standard input until the budget is spent
  local folder=$1 budget=$2 n=0 f
  while read -r f && [ "$budget" -gt 0 ]; do
    n=$((n + 1))
    cp "$f" "$folder/$n-$(basename "$f" | tr -c 'A-Za-z0-9._\n-' '_')" 2>/dev/null || continue
    budget=$((budget - $(stat -c %s "$f")))
  done
}

make_bench_corpus() { # FOLDER
  mkdir -p "$1/bin" "$1/doc" "$1/veri"
  find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +64k -size -40M | sort |
    fill_bench_folder "$1/bin" $((150 * 1048576))
  find /usr/share -type f \( -name '*.txt' -o -name '*.html' -o -name '*.py' -o -name '*.h' \) -size +4k | sort |
    fill_bench_folder "$1/doc" $((26 * 1048576))
  local i
  for i in 1 2 3 4 5; do head -c $((26 * 1048576)) /dev/urandom >"$1/veri/rastgele-$i.bin"; done
}
