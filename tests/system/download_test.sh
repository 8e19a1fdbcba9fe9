#!/usr/bin/env bash
# Real downloads between copies on this machine: small, one-block and large files, then a
# requester killed with SIGKILL in the middle and a sharer killed in the middle, each download
# started again with the same command and finishing byte-identical.
# Usage: download_test.sh VANDRY VANDRYCTL VANDRY_SERVER
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3
source "$(dirname "$0")/copies.sh"

start_server "$server" "$work/server.log" || fail "the server did not start"
pids[server]=$server_pid
# alice uploads at 20 MiB/s, so a 100 MiB download lasts long enough to be interrupted in the
# middle however fast the machine is.
start_copy alice --upload-limit 20480
start_copy bob
head -c 500 /dev/urandom > "$work/alice/share/small.bin"
head -c 1024 /dev/urandom > "$work/alice/share/one-block.bin"
head -c $((100 << 20)) /dev/urandom > "$work/alice/share/large.bin"
cp "$work/alice/share/large.bin" "$work/alice/share/again.bin"
wait_for 30 sees bob alice || fail "bob does not see alice"

for file in small.bin one-block.bin large.bin; do
  ctl bob download alice "\\$file" > /dev/null || fail "download $file did not start"
done
for file in small.bin one-block.bin large.bin; do
  wait_for 120 finished bob "$file" || fail "$file did not finish"
  cmp -s "$work/alice/share/$file" "$work/bob/downloads/$file" || fail "$file differs"
done
echo "small, one-block and 100 MiB files downloaded byte-identical"

# The requester is killed outright in the middle, once its task history names the running task;
# started again, it resumes the download by itself.
in_history() { grep -q "$(printf '%s' "$work/bob/downloads/$1" | od -An -tx1 -v | tr -d ' \n')" "$work/bob/home/state/Table.hist"; }
ctl bob download alice '\again.bin' > /dev/null
wait_for 60 started_past bob again.bin 20 || fail "again.bin did not get going"
wait_for 10 in_history again.bin || fail "the task history does not name again.bin"
kill -9 "${pids[bob]}"
wait "${pids[bob]}" 2>/dev/null || true
size_at_kill=$(stat -c %s "$work/bob/downloads/again.bin")
start_copy bob
wait_for 120 finished bob again.bin || fail "again.bin did not finish by itself after the requester's crash"
cmp -s "$work/alice/share/again.bin" "$work/bob/downloads/again.bin" || fail "again.bin differs after the crash"
echo "after SIGKILL of the requester (partial file of $size_at_kill bytes) the task came back and resumed byte-identical"

# The requester is stopped cleanly (SIGTERM) in the middle: the partial file ends in a valid
# 576-byte resume trailer, and the download resumes from it.
rm -f "$work/bob/downloads/again.bin"
cp "$work/alice/share/large.bin" "$work/alice/share/fourth.bin"
# The restarted copy comes back on the port of its last run, so the server knows it at once.
restarted=$SECONDS
wait_for 30 sees bob alice || fail "the restarted bob does not see alice"
echo "the restarted bob saw alice again after $((SECONDS - restarted)) s"
ctl bob download alice '\fourth.bin' > /dev/null
wait_for 60 started_past bob fourth.bin 20 || fail "fourth.bin did not get going"
kill -TERM "${pids[bob]}"
wait "${pids[bob]}" 2>/dev/null || true
partial="$work/bob/downloads/fourth.bin"
trailer=$(tail -c 576 "$partial" | od -An -tx1 -v | tr -d ' \n')
# u16 568 and u16 0 at the ends, marker 0x00C6D300 at offsets 4 and 572.
[ "${trailer:0:4}" = "3802" ] && [ "${trailer:8:8}" = "00d3c600" ] && [ "${trailer:1136:4}" = "4002" ] &&
  [ "${trailer:1144:8}" = "00d3c600" ] || fail "the partial file carries no valid trailer"
[ "$(stat -c %s "$partial")" -lt $((100 << 20)) ] || fail "the partial file grew past its final size"
start_copy bob
wait_for 120 finished bob fourth.bin || fail "fourth.bin did not finish by itself after the requester's clean stop"
cmp -s "$work/alice/share/fourth.bin" "$work/bob/downloads/fourth.bin" || fail "fourth.bin differs"
echo "after SIGTERM of the requester the partial file carried a valid trailer and the download resumed"

# The sharer is killed in the middle; once it is back, the same command finishes the download.
rm -f "$work/bob/downloads/again.bin"
cp "$work/alice/share/large.bin" "$work/alice/share/third.bin"
wait_for 120 sees bob alice || fail "the restarted bob does not see alice"
ctl bob download alice '\third.bin' > /dev/null
wait_for 60 started_past bob third.bin 20 || fail "third.bin did not get going"
kill -9 "${pids[alice]}"
wait "${pids[alice]}" 2>/dev/null || true
start_copy alice --upload-limit 20480
# Bob learns alice's new ports with her next announcement; until then a retry may still reach
# the dead copy's ports, so the user's command is simply run again, as a user would.
for attempt in $(seq 12); do
  ctl bob download alice '\third.bin' > /dev/null || true
  wait_for 10 finished bob third.bin && break
done
finished bob third.bin || fail "third.bin did not finish after the sharer's crash"
cmp -s "$work/alice/share/third.bin" "$work/bob/downloads/third.bin" || fail "third.bin differs"
echo "after SIGKILL of the sharer the download finished byte-identical"
