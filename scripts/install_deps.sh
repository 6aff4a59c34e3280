#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need.
# Idempotent: asks apt only for what is missing. Run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config bc
  libgtest-dev libgmock-dev
  unixodbc-dev odbcinst libodbcinst2
  mdbtools mdbtools-dev
  qt6-base-dev
  xvfb xdotool x11-utils imagemagick
  fonts-arphic-uming fonts-dejavu-core
  clang libclang-rt-14-dev
)
# The npm oracle needs node; keep a node that is already there.
command -v node >/dev/null 2>&1 || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install_deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install_deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install_deps: run as root (apt-get is needed for: ${missing[*]})" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
