#!/usr/bin/env bash
# Copies facing broken and hostile peers on this machine:
# - a sharer that holds only part of a file (its partial file ends in a resume trailer) serves only
#   the blocks it holds, so a download that a full copy then completes arrives byte-identical;
# - peers that send data requests without reading the answers do not grow the sharer's memory;
# - 127 connections that never say a word do not keep a copy from starting its own downloads.
# Usage: hostile_peers_test.sh VANDRY VANDRYCTL VANDRY_SERVER MAKE_PARTIAL_FILE HOSTILE_PEER
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3 make_partial=$4 hostile=$5
source "$(dirname "$0")/copies.sh"
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/${pids[$1]}/status"; }

start_server "$server" "$work/server.log" || fail "the server did not start"
pids[server]=$server_pid
mkdir -p "$work/alice/share" "$work/carol/share"
head -c $((1 << 20)) /dev/urandom > "$work/original.bin"
"$make_partial" "$work/original.bin" "$work/alice/share/film.bin" 0 2 8 10
cp "$work/original.bin" "$work/carol/share/film-full.bin"
head -c $((64 << 20)) /dev/urandom > "$work/alice/share/big.bin"
start_copy alice
start_copy bob
start_copy carol
wait_for 30 sees bob alice || fail "bob does not see alice"
wait_for 30 sees bob carol || fail "bob does not see carol"

# Alice holds blocks 0-1 and 8-9; the rest of her file is zeros and her trailer. Bob takes those
# four blocks from her, then finds carol, who has the whole file under another name.
ctl bob download alice '\film.bin' > /dev/null || fail "the download did not start"
wait_for 90 finished bob film.bin || fail "film.bin did not finish: $(task_line bob film.bin)"
cmp "$work/original.bin" "$work/bob/downloads/film.bin" || fail "film.bin differs from the original"
echo "a download begun at a partial sharer finished byte-identical"

# Four links ask alice for data and never read an answer.
port=$(ctl alice status | awk '/^tcp_port:/ {print $2}')
before=$(rss_kib alice)
floods=()
for i in 1 2 3 4; do
  "$hostile" flood "$port" '\big.bin' 6 > "$work/flood-$i.log" 2>&1 &
  floods+=($!)
done
wait "${floods[@]}"
after=$(rss_kib alice)
echo "alice's memory: ${before} KiB before four non-reading floods, ${after} KiB after"
[ $((after - before)) -lt $((64 << 10)) ] || fail "alice's memory grew by $((after - before)) KiB"
sees bob alice || fail "alice stopped answering"

# Bob's link table meets 127 silent connections; his own download still gets a link at once.
bob_port=$(ctl bob status | awk '/^tcp_port:/ {print $2}')
"$hostile" idle "$bob_port" 127 20 > "$work/idle.log" 2>&1 &
idlers=$!
sleep 1
ctl bob download carol '\film-full.bin' > /dev/null || fail "the download did not start"
wait_for 8 finished bob film-full.bin || fail "film-full.bin did not finish beside silent links"
cmp "$work/original.bin" "$work/bob/downloads/film-full.bin" || fail "film-full.bin differs"
kill "$idlers" 2>/dev/null || true
echo "a download ran while 127 silent connections were open"
