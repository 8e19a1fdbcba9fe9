#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 10: the smoke run of the test command).
# For a longer hunt: scripts/fuzz.sh 600, or one target: scripts/fuzz.sh 3600 lzw_fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
only=${2:-}
bash scripts/build.sh fuzz >/dev/null
mkdir -p build/fuzz/corpus
for target in build/fuzz/fuzz/*_fuzz; do
  name=$(basename "$target")
  [ -n "$only" ] && [ "$name" != "$only" ] && continue
  mkdir -p "build/fuzz/corpus/$name"
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -max_len=70000 -print_final_stats=0 "build/fuzz/corpus/$name" 2>&1 |
    grep -E '^(Done|==|SUMMARY|INFO: a leak)' || true
  test "${PIPESTATUS[0]}" -eq 0
done
