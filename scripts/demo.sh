#!/usr/bin/env bash
# The main job for a new user: builds Vandry, starts a rendezvous server and three copies without
# a window on this machine (each with a temporary home and shared folder) and waits until they
# list each other. bob browses alice's share and a folder in it, searches the network by part of
# a name and hears from alice and carol, who hold the same film under different names, and
# downloads it from alice. alice uploads slowly (--upload-limit), so the download looks for more
# sources and takes carol on: bob's task shows both. Then alice quits, carol finishes the film,
# and the script checks it byte for byte and stops everything it started.
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
ctl() { local name=$1; shift; "$vandryctl" --home "$work/$name/home" "$@"; }
step() { echo; echo "== $*"; }

"$vandry" --version
mkdir -p "$work/alice/share/music/live" "$work/carol/share"
head -c $((40 << 20)) /dev/urandom > "$work/alice/share/Holiday-Film.mkv"
cp "$work/alice/share/Holiday-Film.mkv" "$work/carol/share/film-copy.mkv"
head -c 4000 /dev/urandom > "$work/alice/share/music/live/Encore.mp3"
head -c 6000 /dev/urandom > "$work/alice/share/music/Overture.mp3"
echo "hello from alice" > "$work/alice/share/hello.txt"

source scripts/start-server.sh
start_server "$server" "$work/server.log"
pids+=("$server_pid")
start_copy() { # name, then more options
  local name=$1; shift
  mkdir -p "$work/$name/share" "$work/$name/downloads"
  "$vandry" --headless --home "$work/$name/home" --nick "$name" --share "$work/$name/share" \
    --download "$work/$name/downloads" --feed "$feed" --port-mapping off "$@" > "$work/$name.log" 2>&1 &
  pids+=($!)
}
start_copy alice --upload-limit 200
start_copy bob
start_copy carol --upload-limit 2000

lists() { ctl "$1" neighbours 2>/dev/null | grep -q " $2\$"; }
echo "waiting for the copies to find each other..."
for _ in $(seq 60); do
  lists bob alice && lists bob carol && break
  sleep 0.5
done
step "bob: status and neighbours"
ctl bob status
ctl bob neighbours
lists bob alice && lists bob carol || { echo "the copies did not find each other"; cat "$work"/*.log; exit 1; }

step "bob browses alice's share, then its folder \\music"
ctl bob browse alice
ctl bob browse alice '\music'

step "bob searches the network for \"film\""
ctl bob search film

step "bob downloads Holiday-Film.mkv from alice"
task=$(ctl bob download alice '\Holiday-Film.mkv' | awk '{print $NF}')
echo "task $task"
echo "alice uploads at 200 KiB/s: the download asks the neighbours who else has the file..."
for _ in $(seq 60); do
  ctl bob sources "$task" 2>/dev/null | grep carol | grep -q SEED_FLAG_CONNECTED && break
  sleep 0.5
done
ctl bob sources "$task"
ctl bob tasks

step "alice quits in the middle; carol carries on"
ctl alice quit
for _ in $(seq 240); do
  ctl bob tasks | grep -F "$task" | grep -q 结束传输 && break
  sleep 0.5
done
ctl bob tasks
cmp "$work/alice/share/Holiday-Film.mkv" "$work/bob/downloads/Holiday-Film.mkv" &&
  echo "-- the 40 MiB film arrived byte-identical"
for name in bob carol; do ctl "$name" quit >/dev/null; done
echo "done"
