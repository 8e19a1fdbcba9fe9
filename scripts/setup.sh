#!/usr/bin/env bash
# Installs everything Vandry needs to build, test and run on Debian 12. Safe to run again:
# when every package is already there it changes nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev clang-format
  qt6-base-dev qt6-httpserver-dev libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  fonts-noto-cjk xvfb xauth imagemagick
  iproute2 python3
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
