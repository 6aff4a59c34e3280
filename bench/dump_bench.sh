#!/usr/bin/env bash
# Times `jettool dump` of every corpus database against `mdb-export` of the
# same user tables, one run each, and prints both times and their ratio.
# Usage: bench/dump_bench.sh [JETTOOL] [CORPUS_DIR]
# Not a test: numbers depend on the machine and its load.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
jettool="${1:-$here/build-core/tools/jettool}"
corpus="${2:-${HVQ_CORPUS_DIR:-$here/../shared/corpus}}"
[ -x "$jettool" ] || { echo "jettool not found at $jettool" >&2; exit 2; }
command -v mdb-export >/dev/null || { echo "mdb-export not installed" >&2; exit 2; }
manifest="$corpus/MANIFEST.tsv"

# path<TAB>password for every file.
list="$(mktemp)"
tables_list="$(mktemp)"
trap 'rm -f "$list" "$tables_list"' EXIT
awk -F'\t' 'NR > 1 {
  pw = ""
  if (match($18, /password set \(\x27[^\x27]*\x27\)/)) {
    pw = substr($18, RSTART + 15, RLENGTH - 17)
  }
  print $1 "\t" pw
}' "$manifest" > "$list"

now() { date +%s.%N; }

start=$(now)
files=0
while IFS=$'\t' read -r rel pw; do
  "$jettool" dump "$corpus/$rel" --password "$pw" > /dev/null
  files=$((files + 1))
done < "$list"
ours=$(echo "$(now) - $start" | bc)

# The user tables, listed before the clock starts.
while IFS=$'\t' read -r rel pw; do
  "$jettool" tables "$corpus/$rel" --password "$pw" | while IFS= read -r t; do
    printf '%s\t%s\n' "$rel" "$t"
  done
done < "$list" > "$tables_list"

start=$(now)
tables=0
while IFS=$'\t' read -r rel table; do
  mdb-export "$corpus/$rel" "$table" > /dev/null
  tables=$((tables + 1))
done < "$tables_list"
theirs=$(echo "$(now) - $start" | bc)

printf 'files: %d, tables: %d\n' "$files" "$tables"
printf 'jettool dump: %.2f s\n' "$ours"
printf 'mdb-export:   %.2f s\n' "$theirs"
printf 'ratio (jettool / mdb-export): %.2f\n' "$(echo "$ours / $theirs" | bc -l)"
