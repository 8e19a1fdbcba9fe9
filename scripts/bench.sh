#!/usr/bin/env bash
# Builds the benchmarks (release) and runs them; extra arguments go to Google Benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
bash scripts/build.sh bench >/dev/null
./build/bench/bench/core_bench "$@"
./build/bench/bench/index_bench "$@"
