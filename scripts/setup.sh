#!/usr/bin/env bash
# Set-up and demo: installs what is missing, builds, registers the Access
# driver with unixODBC, prepares demo/ (the program next to a sample
# data.mdb) and starts the tool there.
# Usage: scripts/setup.sh   (as root on a fresh machine; idempotent)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install_deps.sh

echo "=== build (build/release)"
cmake -S "$root" -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  >build/release.configure.log 2>&1 || { cat build/release.configure.log; exit 1; }
ninja -C build/release -j"$(nproc)" >build/release.build.log 2>&1 ||
  { tail -n 60 build/release.build.log; exit 1; }

if [ -x scripts/register_driver.sh ] && [ -f build/release/driver/libhvq_access_setup.so ]; then
  echo "=== register the Access driver with unixODBC (system odbcinst.ini)"
  scripts/register_driver.sh --library "$root/build/release/driver/libhvq_access_setup.so"
fi

echo "=== demo folder: $root/demo"
mkdir -p demo
sample=""
corpus=${HVQ_CORPUS_DIR:-$root/../shared/corpus}
if [ -f "$corpus/database-js-adodb/test.mdb" ]; then
  sample="$corpus/database-js-adodb/test.mdb"
elif [ -x build/release/tools/jettool ]; then
  # No corpus here: a generated database with half its rows deleted.
  rm -f demo/sample.mdb
  build/release/tools/jettool generate demo/sample.mdb --rows 20000 --indexes 2 \
    --deleted 0.5 --seed 1
  sample=demo/sample.mdb
fi
if [ -n "$sample" ]; then
  cp -f "$sample" demo/data.mdb
  echo "sample data.mdb: $sample ($(stat -c %s demo/data.mdb) bytes)"
else
  echo "no sample database available (no corpus, no generator yet)"
fi

if [ -x build/release/ui/HVQ_Repair ]; then
  cp -f build/release/ui/HVQ_Repair demo/
  if [ -n "${DISPLAY:-}" ]; then
    echo "=== starting demo/HVQ_Repair"
    exec demo/HVQ_Repair
  fi
  echo "No display (DISPLAY is unset). To see the window, run it on a desktop, or:"
  echo "  xvfb-run -a -s '-screen 0 800x600x24' demo/HVQ_Repair"
  echo "Starting it now under Xvfb for a few seconds and saving demo/screenshot.png ..."
  xvfb-run -a -s '-screen 0 800x600x24' bash -c \
    'demo/HVQ_Repair & pid=$!; sleep 3; import -window root demo/screenshot.png; kill $pid' || true
  [ -f demo/screenshot.png ] && echo "saved demo/screenshot.png"
else
  cp -f build/release/repair/hvq_repair_cli demo/
  echo "The window is not built yet; the console entry repairs demo/data.mdb:"
  demo/hvq_repair_cli
fi
