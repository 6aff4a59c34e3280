#!/usr/bin/env bash
# Compaction speed, as ratios measured in one run on this machine:
#   - the whole corpus: `jettool compact` of every file vs `cp` of the same
#     bytes vs `mdb-export` of every user table;
#   - the largest file at hand (a BIG file given as argument, e.g. one made by
#     bench/gen_big.sh, else the largest corpus file): the same three.
# Also prints bytes before and after. Not a test: figures depend on the
# machine and its load.
#
#   bench/compact_bench.sh [JETTOOL] [BIG.mdb]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jettool=${1:-$here/build/release/tools/jettool}
big=${2:-}
corpus=${HVQ_CORPUS_DIR:-$here/../shared/corpus}
[ -x "$jettool" ] || { echo "jettool not found at $jettool (build first)" >&2; exit 2; }
command -v mdb-export >/dev/null || { echo "mdb-export not installed" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
elapsed() { echo "$(now) - $1" | bc; }

# Password of a corpus file, from the MANIFEST notes.
password_of() {
  awk -F'\t' -v p="$1" '$1 == p && match($18, /password set \(\x27[^\x27]*\x27\)/) {
    print substr($18, RSTART + 15, RLENGTH - 17) }' "$corpus/MANIFEST.tsv"
}

# compact_one FILE PASSWORD -> seconds for jettool compact
time_compact() {
  local f=$1 pw=$2 out=$work/out.mdb t
  rm -f "$out"
  t=$(now)
  if [ -n "$pw" ]; then "$jettool" compact "$f" "$out" --password "$pw" >/dev/null 2>&1
  else "$jettool" compact "$f" "$out" >/dev/null 2>&1; fi
  elapsed "$t"
  after_bytes=$(stat -c %s "$out")
}
time_cp() {
  local t
  rm -f "$work/copy.mdb"
  t=$(now); cp "$1" "$work/copy.mdb"; sync "$work/copy.mdb"; elapsed "$t"
}
time_export() {
  local t
  t=$(now)
  mdb-tables -1 "$1" 2>/dev/null | while IFS= read -r table; do
    [ -n "$table" ] && mdb-export "$1" "$table" >/dev/null 2>&1 || true
  done
  elapsed "$t"
}

report() {  # label bytes_before bytes_after compact cp export
  printf '%-8s %12s -> %12s bytes  compact %7.2fs  cp %6.2fs  mdb-export %7.2fs  compact/cp %6.1f  compact/export %5.2f\n' \
    "$1" "$2" "$3" "$4" "$5" "$6" "$(echo "$4 / ($5 + 0.0001)" | bc -l)" \
    "$(echo "$4 / ($6 + 0.0001)" | bc -l)"
}

if [ -f "$corpus/MANIFEST.tsv" ]; then
  tc=0 tp=0 te=0 before=0 after=0
  while IFS=$'\t' read -r rel _; do
    [ "$rel" = path ] && continue
    f=$corpus/$rel
    pw=$(password_of "$rel")
    s=$(time_compact "$f" "$pw"); tc=$(echo "$tc + $s" | bc)
    after=$((after + $(stat -c %s "$work/out.mdb")))
    before=$((before + $(stat -c %s "$f")))
    tp=$(echo "$tp + $(time_cp "$f")" | bc)
    te=$(echo "$te + $(time_export "$f")" | bc)
  done < "$corpus/MANIFEST.tsv"
  report corpus "$before" "$after" "$tc" "$tp" "$te"
  [ -n "$big" ] || big=$(ls -S "$corpus"/*/*.mdb | head -n 1 || true)
fi

if [ -n "$big" ]; then
  s=$(time_compact "$big" "")
  report largest "$(stat -c %s "$big")" "$(stat -c %s "$work/out.mdb")" "$s" \
    "$(time_cp "$big")" "$(time_export "$big")"
  echo "largest file: $big"
fi
