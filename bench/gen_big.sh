#!/usr/bin/env bash
# Generates a large fragmented Jet 4 database with `jettool generate` and
# reports wall time and peak memory (GNU time -v). Not a test.
#
#   bench/gen_big.sh JETTOOL [OUT] [ROWS]
#
# Defaults: OUT=/tmp/hvq-big.mdb, ROWS=3200000 (about 500 MB: two indexes,
# memo values of every storage kind, 5% deleted rows, a dropped table).
set -euo pipefail
jettool=${1:?usage: gen_big.sh JETTOOL [OUT] [ROWS]}
out=${2:-/tmp/hvq-big.mdb}
rows=${3:-3200000}
rm -f "$out"
/usr/bin/time -v "$jettool" generate "$out" --rows "$rows" --tables 1 \
  --value-size 40 --indexes 2 --deleted 0.05 --seed 42 2> "$out.time"
grep -E "Elapsed|Maximum resident" "$out.time"
ls -l "$out"
