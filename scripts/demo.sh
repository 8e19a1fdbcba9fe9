#!/usr/bin/env bash
# The main job for a new user: builds Vandry, starts a headless copy with a temporary home and
# a temporary shared folder, shows what it knows about itself, and stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/share" "$work/downloads"
echo "hello from Vandry" > "$work/share/hello.txt"

./build/release/src/main/vandry --version
./build/release/src/main/vandry --headless --home "$work/home" --nick demo \
  --share "$work/share" --download "$work/downloads" > "$work/log" 2>&1 &
pid=$!
for _ in $(seq 50); do
  grep -q "state folder" "$work/log" 2>/dev/null && break
  sleep 0.2
done
echo "-- a second start of the same home hands over to the running copy:"
./build/release/src/main/vandry --headless --home "$work/home" && echo "second start exited with 0"
sleep 0.5
kill -TERM "$pid"
wait "$pid"
echo "-- the copy's log:"
cat "$work/log"
