#!/usr/bin/env bash
# The whole test suite: installs what is missing, checks the format, smoke-runs the fuzzers,
# then builds and runs every test twice: in a release build, and under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/check-format.sh
bash scripts/fuzz.sh 10

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

bash scripts/build.sh asan
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --test-dir build/asan --output-on-failure -j2 --timeout 300

bash scripts/build.sh release
echo "== tests, release build"
ctest --test-dir build/release --output-on-failure -j2 --timeout 300
