#!/usr/bin/env bash
# Screenshots of the window at work: a rendezvous server, two headless copies (bob and carol) and
# one copy with its window (小明) on a virtual X display. 小明 downloads a film from bob (bob
# uploads slowly, so the task stays live) and browses bob's share: build/screenshot.png (or $1).
# Then 小明 searches the network: build/screenshot-search.png (next to the first). Last, a new user
# starts a copy for the first time: build/screenshot-first-start.png shows the settings dialog.
# Between them, build/screenshot-properties.png shows the film task's property dialog, and
# build/screenshot-tray.png the window closed to the notification area with the icon's menu open.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshot.png}")
search_out="${out%.png}-search.png"
first_out="${out%.png}-first-start.png"
nothing_out="${out%.png}-no-results.png"
properties_out="${out%.png}-properties.png"
tray_out="${out%.png}-tray.png"
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
ctl() { local name=$1; shift; "$bin/src/main/vandryctl" --home "$work/$name/home" "$@"; }

# Xvfb picks a free display and writes its number to the file.
Xvfb -displayfd 3 -screen 0 1024x700x24 -nolisten tcp 3> "$work/display" > "$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
display=":$(cat "$work/display")"
source scripts/start-server.sh
start_server "$bin/server/vandry-server" "$work/server.log"
pids+=("$server_pid")
for name in 小明 bob carol; do
  mkdir -p "$work/$name/share" "$work/$name/downloads"
done
mkdir -p "$work/bob/share/music/live" "$work/bob/share/photos"
head -c $((64 << 20)) /dev/urandom > "$work/bob/share/Holiday-Film.mkv"
cp "$work/bob/share/Holiday-Film.mkv" "$work/carol/share/film-copy.mkv"
head -c 4000 /dev/urandom > "$work/bob/share/music/live/Encore.mp3"
head -c 6000 /dev/urandom > "$work/bob/share/music/Overture.mp3"
head -c 250000 /dev/urandom > "$work/bob/share/photos/beach.jpg"
echo "notes" > "$work/bob/share/readme.txt"
echo "film notes" > "$work/carol/share/film-notes.txt"
for name in bob carol; do
  "$bin/src/main/vandry" --headless --home "$work/$name/home" --nick "$name" --share "$work/$name/share" \
    --download "$work/$name/downloads" --feed "$feed" --upload-limit 400 --port-mapping off > "$work/$name.log" 2>&1 &
  pids+=($!)
done
DISPLAY=$display QT_QPA_PLATFORM=xcb "$bin/src/main/vandry" --home "$work/小明/home" --nick 小明 \
  --share "$work/小明/share" --download "$work/小明/downloads" --feed "$feed" --port-mapping off \
  > "$work/gui.log" 2>&1 &
pids+=($!)
for _ in $(seq 60); do
  ctl 小明 neighbours 2>/dev/null | grep -q " bob$" && ctl 小明 neighbours 2>/dev/null | grep -q " carol$" && break
  sleep 0.5
done
ctl 小明 download bob '\Holiday-Film.mkv' > /dev/null
ctl 小明 download bob '\readme.txt' > /dev/null
# More tasks in other states: one the user stopped, one whose file the sharer does not have.
stopped=$(ctl 小明 download carol '\film-copy.mkv' | sed -n 's/.*task //p')
ctl 小明 stop "$stopped" > /dev/null
ctl 小明 download carol '\gone.bin' > /dev/null
ctl 小明 browse bob > /dev/null
sleep 6
DISPLAY=$display import -window root "$out"
echo "screenshot: $out"
# The film task's properties: a double click on the first row of the task list.
window=$(DISPLAY=$display xdotool search --onlyvisible --name "Vandry" | head -1 || true)
[ -n "$window" ] || echo "screenshot: the main window was not found for the property dialog" >&2
[ -z "$window" ] || DISPLAY=$display xdotool mousemove --window "$window" 300 393 click --repeat 2 --delay 80 1
sleep 2
DISPLAY=$display import -window root "$properties_out"
echo "screenshot: $properties_out"
DISPLAY=$display xdotool key Escape || true
sleep 0.5
ctl 小明 search film > /dev/null
sleep 1
DISPLAY=$display import -window root "$search_out"
echo "screenshot: $search_out"
ctl 小明 search zebra > /dev/null || true
sleep 3
DISPLAY=$display import -window root "$nothing_out"
echo "screenshot: $nothing_out"

# The window closed to the notification area, and the icon's menu, on a panel with a tray
# (trayer) under a window manager (twm) that iconifies the window when asked.
DISPLAY=$display trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel \
  --height 32 --transparent false > "$work/trayer.log" 2>&1 &
pids+=($!)
# Windows keep their places and get no title bars, and twm does not wait for a placement click.
printf '%s\n' RandomPlacement NoGrabServer NoTitle 'UsePPosition "on"' 'TitleFont "fixed"' 'MenuFont "fixed"' \
  'IconFont "fixed"' 'ResizeFont "fixed"' 'IconManagerFont "fixed"' > "$work/twmrc"
LANG=C DISPLAY=$display twm -f "$work/twmrc" > "$work/twm.log" 2>&1 &
pids+=($!)
sleep 2
[ -z "$window" ] || DISPLAY=$display timeout 5 xdotool windowminimize "$window"
sleep 2
# The icon sits at the right end of the panel, in the bottom right corner of the 1024x700 screen.
DISPLAY=$display timeout 5 xdotool mousemove 1012 684 click 3
sleep 1
DISPLAY=$display import -window root "$tray_out"
echo "screenshot: $tray_out"
DISPLAY=$display xdotool key Escape || true

mkdir -p "$work/newuser"
HOME="$work/newuser" DISPLAY=$display QT_QPA_PLATFORM=xcb "$bin/src/main/vandry" --home "$work/newuser/home" \
  --nick 新用户 --feed "$feed" --port-mapping off > "$work/first.log" 2>&1 &
pids+=($!)
sleep 3
DISPLAY=$display import -window root "$first_out"
echo "screenshot: $first_out"
