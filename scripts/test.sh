#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, runs every test,
# then runs the tests again in a sanitizer build (ASan + UBSan).
# Usage: scripts/test.sh   (as root on a fresh machine; idempotent)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install_deps.sh

# Oracles for the reader's agreement tests (npm mdb-reader), when present.
if [ -f tools/oracle/package.json ]; then
  (cd tools/oracle && { [ -d node_modules ] || npm install --no-audit --no-fund --silent; })
fi

jobs=$(nproc)
status=0

run_suite() {  # name build_dir ctest_exclude_regex cmake_args...
  local name=$1 dir=$2 exclude=$3
  shift 3
  echo "=== $name: configure and build ($dir)"
  cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
  ninja -C "$dir" -j"$jobs" >"$dir.build.log" 2>&1 ||
    { tail -n 60 "$dir.build.log"; return 1; }
  echo "=== $name: tests"
  local rc=0
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 900 ${exclude:+-E "$exclude"}) \
    >"$dir.test.log" 2>&1 || rc=$?
  if [ "$rc" -eq 0 ]; then tail -n 12 "$dir.test.log"; else cat "$dir.test.log"; fi
  return "$rc"
}

mkdir -p build
run_suite "debug" build/debug "" -DCMAKE_BUILD_TYPE=Debug || status=1
# The sanitizer pass runs the engine's own tests; the comparison with the
# outside readers (which spends its time in those readers) runs once, above.
run_suite "sanitizers" build/asan '^jettool_(compacted_)?oracle_agreement$' \
  -DCMAKE_BUILD_TYPE=Debug -DHVQ_SANITIZE=ON -DHVQ_WITH_UI=OFF || status=1

if [ "$status" -eq 0 ]; then
  echo "=== all test suites passed"
else
  echo "=== some test suite FAILED"
fi
exit "$status"
