#!/bin/bash
# Dump agreement on compacted copies: compacts every database of the corpus
# (MANIFEST.tsv) with `jettool compact` into a scratch folder laid out like
# the corpus, then runs compare_oracles.py over the copies, so that
# mdbtools and mdb-reader read every user table of every copy as we do.
# (compactor_test shows that we read each copy as we read its source.)
#
# Usage: compacted_agreement.sh JETTOOL CORPUS_DIR
# (HVQ_CORPUS_DIR, when set, replaces CORPUS_DIR)
# Exit status: 0 all agree, 1 a compaction failed or a disagreement, 77 the
# corpus or an oracle is missing.
set -u
jettool=$1
corpus=${HVQ_CORPUS_DIR:-$2}
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -f "$corpus/MANIFEST.tsv" ]; then
  echo "SKIP: corpus not found at $corpus (set HVQ_CORPUS_DIR)"
  exit 77
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/hvq-compacted-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cp "$corpus/MANIFEST.tsv" "$scratch/"
failed=0
count=0
while IFS=$'\t' read -r path rest; do
  password=$(printf '%s\n' "$rest" | sed -n "s/.*database password set ('\([^']*\)').*/\1/p")
  mkdir -p "$scratch/$(dirname "$path")"
  if ! "$jettool" compact "$corpus/$path" "$scratch/$path" --password "$password" \
       > /dev/null 2> "$scratch/.err"; then
    echo "FAILED: compact $path: $(cat "$scratch/.err")"
    failed=1
  fi
  count=$((count + 1))
done < <(tail -n +2 "$corpus/MANIFEST.tsv")
echo "compacted $count files"
python3 "$here/compare_oracles.py" "$jettool" "$scratch"
status=$?
[ "$failed" -ne 0 ] && exit 1
exit $status
