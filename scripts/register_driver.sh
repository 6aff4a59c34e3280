#!/bin/sh
# Registers the built setup library as the "Microsoft Access Driver (*.mdb)"
# with unixODBC's installer.
#
#   scripts/register_driver.sh [--library PATH] [ODBCSYSINI_DIR]
#
# Without ODBCSYSINI_DIR the driver goes into the system odbcinst.ini (as
# `odbcinst -j` shows it; usually needs root). With it, into
# ODBCSYSINI_DIR/odbcinst.ini, which a program then uses when started with
# ODBCSYSINI=ODBCSYSINI_DIR. The library defaults to the newest
# build*/driver/libhvq_access_setup.so of this repository; Setup= and
# Driver= name it by absolute path.
set -eu

driver_name='Microsoft Access Driver (*.mdb)'
repo=$(cd "$(dirname "$0")/.." && pwd)
library=""

while [ $# -gt 0 ]; do
  case "$1" in
    --library) library=$2; shift 2 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    --) shift; break ;;
    -*) echo "register_driver.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -le 1 ] || { echo "register_driver.sh: too many arguments" >&2; exit 2; }

if [ -z "$library" ]; then
  # Newest built library, if any.
  library=$(ls -t "$repo"/build*/driver/libhvq_access_setup.so 2>/dev/null |
            head -n 1 || true)
fi
if [ -z "$library" ] || [ ! -f "$library" ]; then
  echo "register_driver.sh: no built libhvq_access_setup.so found;" \
       "build the hvq_access_setup target or pass --library PATH" >&2
  exit 1
fi
case "$library" in
  /*) ;;
  *) library="$(cd "$(dirname "$library")" && pwd)/$(basename "$library")" ;;
esac

command -v odbcinst >/dev/null 2>&1 || {
  echo "register_driver.sh: odbcinst (unixODBC) is not installed" >&2
  exit 1
}

if [ $# -eq 1 ]; then
  ini_dir=$1
  mkdir -p "$ini_dir"
  ini_dir=$(cd "$ini_dir" && pwd)
  touch "$ini_dir/odbcinst.ini"
  export ODBCSYSINI="$ini_dir"
  unset ODBCINSTINI || true
fi

printf '[%s]\nDescription=Access databases (compaction only)\nDriver=%s\nSetup=%s\nFileUsage=1\n' \
  "$driver_name" "$library" "$library" | odbcinst -i -d -r
echo "registered $library as \"$driver_name\" in $(odbcinst -j | sed -n 's/^DRIVERS\.*: //p')"
