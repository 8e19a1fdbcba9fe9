#!/usr/bin/env bash
# Three copies and the server on this machine: bob browses alice's share and a folder in it,
# searches the network by part of a name and hears from alice and carol, who hold the same file
# under different names, and downloads it from alice. alice uploads slowly, so the download looks
# for more sources and takes carol on; alice quits in the middle and carol finishes the file.
# Then stop, resume and delete of a task.
# Usage: sources_test.sh VANDRY VANDRYCTL VANDRY_SERVER
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3
source "$(dirname "$0")/copies.sh"
task_state() { task_line "$1" "$2" | awk '{print $2}'; }
source_running() { ctl bob sources "$1" | grep " $2 " | grep -q SEED_FLAG_CONNECTED; }

mkdir -p "$work/alice/share/music/live" "$work/alice/share/docs" "$work/carol/share"
head -c $((40 << 20)) /dev/urandom > "$work/alice/share/Film-Alpha.bin"
cp "$work/alice/share/Film-Alpha.bin" "$work/carol/share/film-copy.bin"
head -c 3000 /dev/urandom > "$work/alice/share/music/live/Encore.mp3"
head -c 5000 /dev/urandom > "$work/alice/share/music/studio.mp3"
echo "read me" > "$work/alice/share/docs/readme.txt"
head -c $((24 << 20)) /dev/urandom > "$work/carol/share/other.bin"

start_server "$server" "$work/server.log" || fail "the server did not start"
pids[server]=$server_pid
start_copy alice --upload-limit 200
start_copy bob
start_copy carol --upload-limit 1000
wait_for 30 sees bob alice || fail "bob does not see alice"
wait_for 30 sees bob carol || fail "bob does not see carol"

# Browsing: the share root, then a folder in it.
root=$(ctl bob browse alice) || fail "browse of alice's share failed: $root"
grep -q ' Film-Alpha.bin$' <<< "$root" && grep -q ' music\\$' <<< "$root" && grep -q ' docs\\$' <<< "$root" ||
  fail "alice's share root lists wrong: $root"
music=$(ctl bob browse alice '\music') || fail "browse of \\music failed: $music"
grep -q ' 5000  studio.mp3$' <<< "$music" && grep -q ' live\\$' <<< "$music" || fail "\\music lists wrong: $music"
echo "browsed alice's share and its folder \\music"

# Searching by part of a name finds the file at both copies, with the names as they are on disk.
found=$(ctl bob search film) || fail "search failed: $found"
grep -q '^alice:' <<< "$found" && grep -q '^carol:' <<< "$found" || fail "search did not hear from both: $found"
grep -q '\\Film-Alpha.bin' <<< "$found" && grep -q '\\film-copy.bin' <<< "$found" || fail "search results: $found"
encore=$(ctl bob search encore)
grep -q '\\music\\live\\Encore.mp3' <<< "$encore" || fail "a file in a subfolder is found by its path: $encore"
echo "search found the film at alice and at carol"

# The share follows the disk: a file put into a new folder of alice's share is found by a search
# within seconds (each search waits up to 3 s for answers), not at the next periodic rebuild.
mkdir -p "$work/alice/share/new/deeper"
echo "fresh" > "$work/alice/share/new/deeper/Zephyr-notes.txt"
found_new() { ctl bob search zephyr | grep -q 'Zephyr-notes.txt'; }
wait_for 6 found_new || fail "a file added to alice's share was not found: $(ctl bob search zephyr)"
echo "a file added to the share was found at once"

# alice is slow, so the download looks for more sources and takes carol on.
task=$(ctl bob download alice '\Film-Alpha.bin' | awk '{print $NF}')
wait_for 60 source_running "$task" carol || fail "carol did not become a source: $(ctl bob sources "$task")"
wait_for 30 started_past bob Film-Alpha.bin 1 || fail "the film download does not progress"
before_quit=$(progress bob Film-Alpha.bin)
[ "$before_quit" -lt 100 ] || fail "the film finished before alice could quit"
ctl alice quit > /dev/null
wait "${pids[alice]}" 2>/dev/null || true
unset 'pids[alice]'
wait_for 180 finished bob Film-Alpha.bin || fail "the film did not finish from carol: $(task_line bob Film-Alpha.bin)"
cmp -s "$work/carol/share/film-copy.bin" "$work/bob/downloads/Film-Alpha.bin" || fail "the film differs"
echo "carol joined as a second source; alice quit at ${before_quit}% and carol finished the film byte-identical"

# Stop, resume and delete.
other=$(ctl bob download carol '\other.bin' | awk '{print $NF}')
wait_for 60 started_past bob other.bin 5 || fail "other.bin did not get going"
ctl bob stop "$other" > /dev/null
[ "$(task_state bob other.bin)" = "任务取消" ] || fail "a stopped task reads $(task_state bob other.bin)"
sleep 1
size_stopped=$(stat -c %s "$work/bob/downloads/other.bin")
sleep 6
[ "$(stat -c %s "$work/bob/downloads/other.bin")" = "$size_stopped" ] || fail "a stopped task kept writing"
ctl bob resume "$other" > /dev/null
wait_for 120 finished bob other.bin || fail "other.bin did not finish after resume: $(task_line bob other.bin)"
cmp -s "$work/carol/share/other.bin" "$work/bob/downloads/other.bin" || fail "other.bin differs"
ctl bob delete "$other" --with-files > /dev/null
[ -z "$(task_line bob other.bin)" ] || fail "the deleted task is still listed"
[ ! -e "$work/bob/downloads/other.bin" ] || fail "delete --with-files left the file"
echo "stop held the download, resume finished it, delete removed the task and its file"

# The digests bob learnt are kept across runs: its stop writes them to Table.hash.
ctl bob quit > /dev/null
wait "${pids[bob]}" 2>/dev/null || true
unset 'pids[bob]'
table="$work/bob/home/state/Table.hash"
[ "$(head -1 "$table" | tr -d '\r')" = "V1" ] || fail "Table.hash does not start with its version line"
grep -qF "$work/bob/downloads/Film-Alpha.bin" "$table" || fail "Table.hash lacks the film: $(cat "$table")"
echo "bob's stop saved the digests it learnt to Table.hash"
