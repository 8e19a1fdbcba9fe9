#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror $files; then
  echo "format: run 'clang-format -i \$(git ls-files \"*.cpp\" \"*.h\")'" >&2
  exit 1
fi
echo "format: ok"
