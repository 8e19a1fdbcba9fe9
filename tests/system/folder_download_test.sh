#!/usr/bin/env bash
# A folder tree of mixed sizes downloaded between two real copies; the requester is killed with
# SIGKILL in the middle of the folder, and once started again it resumes the task by itself and
# the tree ends byte-identical.
# Usage: folder_download_test.sh VANDRY VANDRYCTL VANDRY_SERVER
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3
source "$(dirname "$0")/copies.sh"

start_server "$server" "$work/server.log" || fail "the server did not start"
pids[server]=$server_pid
# alice uploads at 8 MiB/s, so the 48 MiB tree takes long enough to be interrupted.
start_copy alice --upload-limit 8192
start_copy bob
tree=$work/alice/share/album
mkdir -p "$tree/cd1/deep" "$tree/cd2" "$tree/empty folder"
head -c 500 /dev/urandom > "$tree/small.txt"
head -c 1024 /dev/urandom > "$tree/cd1/one block.bin"
: > "$tree/cd1/empty.bin"
head -c $((16 << 20)) /dev/urandom > "$tree/cd1/first.bin"
head -c $((16 << 20)) /dev/urandom > "$tree/cd2/second.bin"
head -c $((16 << 20)) /dev/urandom > "$tree/cd1/deep/third.bin"
for i in $(seq 20); do head -c $((i * 777)) /dev/urandom > "$tree/cd2/piece $i.dat"; done
wait_for 30 sees bob alice || fail "bob does not see alice"

ctl bob download alice '\album\' > /dev/null || fail "the folder download did not start"
in_history() { grep -q "$(printf '%s' "$work/bob/downloads/album/" | od -An -tx1 -v | tr -d ' \n')" "$work/bob/home/state/Table.hist"; }
wait_for 10 in_history || fail "the task history does not name the folder task"
some_done() { [ -n "$(find "$work/bob/downloads/album" -name '*.bin' -size +1M 2>/dev/null)" ]; }
wait_for 60 some_done || fail "the folder download did not get going"
task=$(task_line bob album/ | awk '{print $1}')
# While it runs, the task's properties name the receiving link and every listed file's state.
has_link() { ctl bob properties "$task" | grep -q '^link .* alice '; }
wait_for 10 has_link || fail "the task's properties show no receiving link"
[ "$(ctl bob properties "$task" | grep -c '^  [^ ]* [0-9]* ')" -eq 26 ] || fail "the task's properties do not list its 26 files"
kill -9 "${pids[bob]}"
wait "${pids[bob]}" 2>/dev/null || true
kept=$(find "$work/bob/downloads/album" -type f | wc -l)
start_copy bob
wait_for 120 finished bob album/ || fail "the folder task did not finish by itself after the requester's crash"
diff -r "$tree" "$work/bob/downloads/album" > /dev/null || fail "the downloaded tree differs"
[ "$(ctl bob properties "$task" | grep -c '^  结束传输 ')" -eq 26 ] || fail "the task's properties do not show every file finished"
echo "folder of $(find "$tree" -type f | wc -l) files: SIGKILL with $kept files present, resumed by itself, tree byte-identical"
