#!/usr/bin/env bash
# Configures and builds one flavour into build/<flavour>: release (default), asan or fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
case "$flavour" in
  release) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    args=(-DCMAKE_BUILD_TYPE=Debug -DVANDRY_SANITIZE=ON) ;;
  fuzz)    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DVANDRY_QT=OFF -DVANDRY_TESTS=OFF -DVANDRY_FUZZ=ON) ;;
  bench)   args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANDRY_QT=OFF -DVANDRY_TESTS=OFF -DVANDRY_BENCH=ON) ;;
  *) echo "usage: $0 [release|asan|fuzz|bench]" >&2; exit 2 ;;
esac
cmake -S . -B "build/$flavour" -G Ninja "${args[@]}" >/dev/null
ninja -C "build/$flavour"
