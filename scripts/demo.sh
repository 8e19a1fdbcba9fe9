#!/usr/bin/env bash
# The main job for a new user: builds Vandry, starts a rendezvous server and two copies without
# a window on this machine (each with a temporary home and shared folder), waits until each
# copy lists the other as a neighbour, prints both lists, has bob download a file from alice,
# prints the task and the file, and stops everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release >/dev/null
bin=build/release
vandry=$bin/src/main/vandry
vandryctl=$bin/src/main/vandryctl
server=$bin/server/vandry-server

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$vandry" --version
"$server" --udp 127.0.0.1:3333 --http 127.0.0.1:8080 > "$work/server.log" 2>&1 &
pids+=($!)
for name in alice bob; do
  mkdir -p "$work/$name/share" "$work/$name/downloads"
  echo "hello from $name" > "$work/$name/share/hello-$name.txt"
  "$vandry" --headless --home "$work/$name/home" --nick "$name" --share "$work/$name/share" \
    --download "$work/$name/downloads" --feed http://127.0.0.1:8080/feed > "$work/$name.log" 2>&1 &
  pids+=($!)
done

lists() { "$vandryctl" --home "$work/$1/home" neighbours 2>/dev/null | grep -q " $2\$"; }
echo "waiting for the copies to find each other..."
for _ in $(seq 60); do
  lists alice bob && lists bob alice && break
  sleep 0.5
done
for name in alice bob; do
  echo "-- $name: status"
  "$vandryctl" --home "$work/$name/home" status
  echo "-- $name: neighbours"
  "$vandryctl" --home "$work/$name/home" neighbours
done
lists alice bob && lists bob alice || { echo "the copies did not find each other"; cat "$work"/*.log; exit 1; }

echo "-- bob downloads hello-alice.txt and a 20 MiB file from alice"
head -c $((20 << 20)) /dev/urandom > "$work/alice/share/random-20M.bin"
"$vandryctl" --home "$work/bob/home" download alice '\hello-alice.txt'
"$vandryctl" --home "$work/bob/home" download alice '\random-20M.bin'
for _ in $(seq 100); do
  [ "$("$vandryctl" --home "$work/bob/home" tasks | grep -c 结束传输)" -eq 2 ] && break
  sleep 0.3
done
"$vandryctl" --home "$work/bob/home" tasks
echo "-- bob's copy of hello-alice.txt says: $(cat "$work/bob/downloads/hello-alice.txt")"
cmp "$work/alice/share/random-20M.bin" "$work/bob/downloads/random-20M.bin" && echo "-- the 20 MiB file arrived byte-identical"
for name in alice bob; do "$vandryctl" --home "$work/$name/home" quit >/dev/null; done
echo "done"
