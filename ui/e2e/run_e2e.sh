#!/usr/bin/env bash
# End-to-end run of the real HVQ_Repair window on a virtual X display.
#
#   ui/e2e/run_e2e.sh [--binary PATH] [--mdb PATH] [--driver PATH] [--out DIR]
#
# In a fresh temporary folder it puts the program next to a copy of a sample
# data.mdb, registers the Access driver's setup library in a private
# odbcinst.ini (ODBCSYSINI) when one is built, starts the program from
# another working folder under Xvfb, and then, like a user:
#   1. waits for the window and photographs it          -> window.png
#   2. points at the link (it turns red)                 -> window_link_hover.png
#   3. clicks "修護資料庫", waits for the outcome box     -> box.png, screen.png
#   4. closes the box with Enter, closes the window with the title bar's close
#      button, and checks the exit code.
# Checks: window 258 x 187 and centred; the box is captioned "HVQ_Repair";
# after the run no data_repair.mdb is left and data.mdb exists; exit code 0.
# The outcome (success when the driver compacted the file, else failure) is
# reported, not required: without a built driver the run ends in the failure
# box. Exit status 0 when every check passed, 77 when something it needs
# (a tool, the sample database) is missing.
#
# Defaults: the newest build*/ui/HVQ_Repair (or build/*/ui/HVQ_Repair) of
# this repository; data.mdb from $HVQ_CORPUS_DIR or ../shared/corpus
# (database-js-adodb/test.mdb); the newest built libhvq_access_setup.so;
# screenshots in a temporary folder whose name is printed. With --out the
# temporary folder is removed at the end and only DIR remains.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
binary="" mdb="" driver="" out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --binary) binary=$2; shift 2 ;;
    --mdb) mdb=$2; shift 2 ;;
    --driver) driver=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h|--help) sed -n '2,27p' "$0"; exit 0 ;;
    *) echo "run_e2e.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

newest() { ls -t "$@" 2>/dev/null | head -n 1 || true; }
[ -n "$binary" ] || binary=$(newest "$repo"/build*/ui/HVQ_Repair "$repo"/build/*/ui/HVQ_Repair)
[ -n "$binary" ] && [ -x "$binary" ] || {
  echo "run_e2e.sh: no HVQ_Repair binary (build the HVQ_Repair target or pass --binary)" >&2
  exit 77
}
corpus=${HVQ_CORPUS_DIR:-$repo/../shared/corpus}
[ -n "$mdb" ] || mdb="$corpus/database-js-adodb/test.mdb"
[ -f "$mdb" ] || { echo "run_e2e.sh: SKIP: sample database $mdb not found (pass --mdb)" >&2; exit 77; }
[ -n "$driver" ] || driver=$(newest "$repo"/build*/driver/libhvq_access_setup.so "$repo"/build/*/driver/libhvq_access_setup.so)
for tool in Xvfb xdotool xwininfo import; do
  command -v "$tool" >/dev/null || { echo "run_e2e.sh: SKIP: $tool is not installed" >&2; exit 77; }
done

work=$(mktemp -d /tmp/hvq_e2e.XXXXXX)
app_dir="$work/HVQ 程式"  # a folder name with a blank and Han characters
mkdir -p "$app_dir"
remove_work=1
[ -n "$out" ] || { out="$work/shots"; remove_work=0; }
mkdir -p "$out"
cp "$binary" "$app_dir/HVQ_Repair"
cp "$mdb" "$app_dir/data.mdb"
chmod u+w "$app_dir/data.mdb"
before_sum=$(sha256sum "$app_dir/data.mdb" | cut -d' ' -f1)
before_size=$(stat -c %s "$app_dir/data.mdb")
# Table list and row counts, to compare with the compacted file (mdbtools).
table_summary() {
  command -v mdb-tables >/dev/null && command -v mdb-count >/dev/null || return 0
  local t
  for t in $(mdb-tables -1 "$1" 2>/dev/null | tr ' ' '\001'); do
    t=$(tr '\001' ' ' <<<"$t")
    printf '%s=%s\n' "$t" "$(mdb-count "$1" "$t" 2>/dev/null)"
  done
}
tables_before=$(table_summary "$app_dir/data.mdb")

if [ -n "$driver" ] && [ -f "$driver" ]; then
  driver=$(realpath "$driver")
  export ODBCSYSINI="$work/odbc"
  mkdir -p "$ODBCSYSINI"
  if [ -x "$repo/scripts/register_driver.sh" ]; then
    "$repo/scripts/register_driver.sh" --library "$driver" "$ODBCSYSINI" >/dev/null
  else
    printf '[Microsoft Access Driver (*.mdb)]\nDriver=%s\nSetup=%s\n' \
      "$driver" "$driver" >"$ODBCSYSINI/odbcinst.ini"
  fi
  echo "driver:   $driver (ODBCSYSINI=$ODBCSYSINI)"
else
  # An empty private odbcinst.ini: the installer finds no Access driver.
  export ODBCSYSINI="$work/odbc"
  mkdir -p "$ODBCSYSINI"
  : >"$ODBCSYSINI/odbcinst.ini"
  echo "driver:   none built; the run is expected to end in the failure box"
fi
echo "program:  $app_dir/HVQ_Repair"
echo "data.mdb: copy of $mdb ($before_size bytes)"

xvfb_pid="" app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ "$remove_work" = 1 ] && rm -rf "$work" || true
}
trap cleanup EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "run_e2e.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY || true

failures=0
check() {  # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok:   $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

# Wait up to $1 tenths of a second for `xdotool search` $2... to find a window.
wait_window() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    local id
    id=$(xdotool search --onlyvisible "$@" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  return 1
}

# Started from / so that the program must find data.mdb beside itself.
(cd / && exec "$app_dir/HVQ_Repair") >"$work/app.log" 2>&1 &
app_pid=$!

win=$(wait_window 150 --name '2005/08/13') || {
  echo "run_e2e.sh: the window did not appear" >&2; cat "$work/app.log" >&2; exit 1; }
# First paint: the title bar's top-left pixel inside the border is no longer
# black.
for _ in $(seq 50); do
  import -window "$win" -crop 1x1+1+1 txt:- 2>/dev/null | grep -q '#000000' || break
  sleep 0.1
done
geometry=$(xwininfo -id "$win")
x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$geometry")
y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$geometry")
w=$(sed -n 's/.*Width: *//p' <<<"$geometry")
h=$(sed -n 's/.*Height: *//p' <<<"$geometry")
echo "window:   0x$(printf %x "$win") \"$(xdotool getwindowname "$win")\" ${w}x${h}+${x}+${y}"
check "window is 258 x 187" test "${w}x${h}" = "258x187"
check "window is centred on the 800 x 600 screen" test "${x},${y}" = "271,206"
# Pointer over the link: it turns red.
# Counts the pure red pixels of the link label (55 x 11 at (24, 152)).
red_pixels() {
  convert "$1" -crop 55x11+24+152 +repage -fill black +opaque 'rgb(255,0,0)' \
    -format '%[fx:round(mean.r*w*h)]' info: 2>/dev/null || echo 0
}
xdotool mousemove --window "$win" 40 157
red=0
for _ in $(seq 30); do
  sleep 0.1
  import -window "$win" "$out/window_link_hover.png"
  red=$(red_pixels "$out/window_link_hover.png")
  [ "$red" -ge 10 ] && break
done
check "link drawn red while the pointer is over it ($red red pixels)" test "$red" -ge 10
xdotool mousemove --window "$win" 120 100
for _ in $(seq 30); do
  sleep 0.1
  import -window "$win" "$out/window.png"
  [ "$(red_pixels "$out/window.png")" -eq 0 ] && break
done
check "link blue again after the pointer left" test "$(red_pixels "$out/window.png")" -eq 0

# The repair button, at (144, 136) and 89 x 33.
xdotool mousemove --window "$win" 188 152 click 1
box=""
for _ in $(seq 1200); do  # the driver may take a while on a large file
  for id in $(xdotool search --onlyvisible --class HVQ_Repair 2>/dev/null || true); do
    [ "$id" = "$win" ] && continue
    if [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "HVQ_Repair" ]; then box=$id; break; fi
  done
  [ -n "$box" ] && break
  sleep 0.1
done
check "an outcome box captioned HVQ_Repair appeared" test -n "$box"
if [ -n "$box" ]; then
  sleep 0.3  # its first paint
  import -window "$box" "$out/box.png"
  import -window root "$out/screen.png"
  bgeom=$(xwininfo -id "$box")
  bx=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$bgeom")
  by=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$bgeom")
  bw=$(sed -n 's/.*Width: *//p' <<<"$bgeom")
  bh=$(sed -n 's/.*Height: *//p' <<<"$bgeom")
  echo "box:      ${bw}x${bh}+${bx}+${by}"
  dx=$((bx + bw / 2 - 400)) dy=$((by + bh / 2 - 300))
  check "box centred on the screen" test $((dx * dx + dy * dy)) -le 2
  # Enter presses the default button, OK.
  xdotool mousemove --window "$box" $((bw / 2)) $((bh / 2))
  xdotool key Return
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^HVQ_Repair$' >/dev/null 2>&1 || break
    sleep 0.1
  done
  check "Enter closed the box" bash -c "! xdotool search --onlyvisible --name '^HVQ_Repair\$' >/dev/null 2>&1"
fi

after_sum=$(sha256sum "$app_dir/data.mdb" 2>/dev/null | cut -d' ' -f1 || true)
check "data.mdb exists after the run" test -f "$app_dir/data.mdb"
check "no data_repair.mdb is left" test ! -e "$app_dir/data_repair.mdb"
if [ "$after_sum" != "$before_sum" ]; then
  echo "outcome:  data.mdb replaced by the compacted file ($before_size -> $(stat -c %s "$app_dir/data.mdb") bytes)"
  if [ -n "$tables_before" ]; then
    check "compacted data.mdb has the same tables and row counts (mdbtools)" \
      test "$(table_summary "$app_dir/data.mdb")" = "$tables_before"
  fi
else
  echo "outcome:  data.mdb unchanged (the failure box, or a driver that changed nothing)"
fi

# The title bar's close button: 19 x 19 at (234, 2) in the bar, the bar at (1, 1).
xdotool mousemove --window "$win" 244 12 click 1
rc=""
for _ in $(seq 100); do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    wait "$app_pid" && rc=0 || rc=$?
    app_pid=""
    break
  fi
  sleep 0.1
done
check "closing the window ended the program with exit code 0" test "$rc" = "0"

echo "screenshots: $out"
ls "$out"
if [ "$failures" -eq 0 ]; then echo "e2e: all checks passed"; else echo "e2e: $failures check(s) FAILED"; fi
[ "$failures" -eq 0 ]
