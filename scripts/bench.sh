#!/usr/bin/env bash
# Builds the benchmarks (release) and runs them; extra arguments go to Google Benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
bash scripts/build.sh bench >/dev/null
./build/bench/bench/core_bench "$@"
./build/bench/bench/index_bench "$@"
# What a user would otherwise use for digests, in the same run: OpenSSL's MD5 on 64 KiB chunks.
echo "== openssl speed -evp md5 (for comparison with Md5FiveMebibytes)"
openssl speed -evp md5 -bytes 65536 -seconds 3 2>/dev/null | tail -2
