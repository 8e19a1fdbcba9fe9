#!/usr/bin/env bash
# Takes a screenshot of the window with a neighbour listed: a rendezvous server, one headless
# copy and one copy with its window on a virtual X display. Writes build/screenshot.png (or $1).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshot.png}")
bash scripts/setup.sh >/dev/null
bash scripts/build.sh release >/dev/null
bin=build/release
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb :77 -screen 0 1024x700x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
"$bin/server/vandry-server" --udp 127.0.0.1:3344 --http 127.0.0.1:8088 > "$work/server.log" 2>&1 &
pids+=($!)
for name in 小明 bob; do
  mkdir -p "$work/$name/share" "$work/$name/downloads"
done
"$bin/src/main/vandry" --headless --home "$work/bob/home" --nick bob --share "$work/bob/share" \
  --download "$work/bob/downloads" --feed http://127.0.0.1:8088/feed > "$work/bob.log" 2>&1 &
pids+=($!)
DISPLAY=:77 QT_QPA_PLATFORM=xcb "$bin/src/main/vandry" --home "$work/小明/home" --nick 小明 \
  --share "$work/小明/share" --download "$work/小明/downloads" --feed http://127.0.0.1:8088/feed \
  > "$work/gui.log" 2>&1 &
pids+=($!)
for _ in $(seq 60); do
  "$bin/src/main/vandryctl" --home "$work/小明/home" neighbours 2>/dev/null | grep -q " bob$" && break
  sleep 0.5
done
sleep 1
DISPLAY=:77 import -window root "$out"
echo "screenshot: $out"
