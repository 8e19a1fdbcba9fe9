#!/usr/bin/env bash
# Installs everything Vandry's build, tests, demo and benchmarks use on Debian 12, starting from a
# system with only the base packages. Safe to run again: when every package is already there it
# changes nothing. When apt cannot install them it stops and names the packages still missing,
# before any build can fail on them later.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git libssl-dev
  clang libclang-rt-14-dev clang-format llvm
  qt6-base-dev qt6-httpserver-dev qt6-websockets-dev qt6-qpa-plugins qt6-translations-l10n libqt6svg6 libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  fonts-noto-cjk xvfb xauth imagemagick xdotool twm trayer xfonts-base
  iproute2 iptables openssl nginx-light curl
  libhiredis-dev redis-server
  libminiupnpc-dev libnatpmp-dev miniupnpd-iptables
)

missing_packages() {
  local package
  for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      echo "$package"
    fi
  done
}

mapfile -t missing < <(missing_packages)
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: run as root (or install sudo) to install: ${missing[*]}" >&2
    exit 1
  fi
  sudo="sudo"
fi
echo "setup: installing ${missing[*]}"
if ! $sudo apt-get update; then
  echo "setup: apt-get update failed (is the Debian archive reachable?); not installed: ${missing[*]}" >&2
  exit 1
fi
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" || true
mapfile -t still_missing < <(missing_packages)
if [ ${#still_missing[@]} -ne 0 ]; then
  echo "setup: could not install: ${still_missing[*]}" >&2
  exit 1
fi
echo "setup: done in $SECONDS s"
