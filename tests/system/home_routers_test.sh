#!/usr/bin/env bash
# Two copies, each behind a home router of its own (a Linux address translator that lets in only
# established traffic), with vandry-server on the internet between them. They browse and search
# each other and download 20 MiB byte-identical, again with 5% of the forwarded packets dropped at
# each router, and once more with the requester killed in the middle and started again.
# The variant picks the routers:
#   upnp   the routers run miniupnpd, so the copies map their ports: plain TCP links;
#   punch  no port mapping: the copies open paths through the translators themselves;
#   relay  the routers give every flow a port of its own, so only the server's relay connects them.
# Usage: home_routers_test.sh VANDRY VANDRYCTL VANDRY_SERVER VARIANT STUN_RESPONDER
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3 variant=$4 netns_stun_responder=$5
source "$(dirname "$0")/copies.sh"
source "$(dirname "$0")/netns.sh"

subnet=198.18.$((($$ + 100) % 250))
netns_internet "$subnet"
router_mode=""
[ "$variant" != relay ] || router_mode=random
netns_home alice 11 $router_mode
netns_home bob 12 $router_mode
[ "$variant" != upnp ] || { netns_upnp alice && netns_upnp bob; } || fail "miniupnpd did not start"

netns_start_copies "$server" alice bob
for file in clean lossy again; do head -c $((20 << 20)) /dev/urandom > "$work/alice/share/$file.bin"; done
echo hello > "$work/bob/share/note.txt"

browses() { ctl "$1" browse "$2" | grep -q "$3"; }
# What a copy's event log says about opening paths: "Punch: ID open at A:P after N ms" once the
# neighbour's translator let a datagram through, "UDTConnect: A:P after N ms" per datagram connection.
punch_ms() { sed -n 's/^Punch: .* after \([0-9]*\) ms.*/\1/p' "$work/$1/home/state/EVT.TXT" 2>/dev/null | head -1; }
connect_ms() { sed -n 's/^UDTConnect: .* after \([0-9]*\) ms.*/\1/p' "$work/$1/home/state/EVT.TXT" 2>/dev/null | head -1; }
finds() { ctl "$1" search "$3" | grep -q "$3"; }
# How bob's links reach alice: the transport and the far end of each receiving link.
paths() { ctl bob properties "$(task_line bob "$1" | awk '{print $1}')" | sed -n 's/^link .*  via //p' | sort -u | paste -sd,; }

wait_for 30 sees bob alice || fail "bob does not see alice"
wait_for 30 sees alice bob || fail "alice does not see bob"
start=$SECONDS
wait_for 60 browses bob alice clean.bin || fail "bob cannot browse alice"
echo "bob browses alice after $((SECONDS - start)) s"
[ -z "$(punch_ms bob)" ] ||
  echo "the direct path opened $(punch_ms bob) ms after bob's first probe ($(punch_ms alice) ms after alice was first asked)"
wait_for 20 browses alice bob note.txt || fail "alice cannot browse bob"
wait_for 20 finds bob alice lossy || fail "bob's search does not find alice's file"
wait_for 20 finds alice bob note || fail "alice's search does not find bob's file"
echo "alice and bob browse and search each other"

download() { # file, seconds allowed
  local start=$SECONDS path=""
  ctl bob download alice "\\$1" > /dev/null || fail "the download of $1 did not start"
  until finished bob "$1"; do
    [ $SECONDS -lt $((start + $2)) ] || fail "$1 did not finish within $2 s"
    [ -n "$path" ] || path=$(paths "$1" 2>/dev/null || true)
    sleep 0.5
  done
  cmp -s "$work/alice/share/$1" "$work/bob/downloads/$1" || fail "$1 differs"
  local took=$((SECONDS - start))
  echo "$1: 20 MiB in $took s ($(rate_of $took)) over ${path:-an unseen path}$(relayed_so_far)"
  [ "$variant" != relay ] || [ -z "$path" ] || [[ "$path" == relay* ]] || fail "$1 did not go through the relay"
}
rate_of() { awk -v s="$1" 'BEGIN { printf "%.2f MiB/s", 20 / (s > 0 ? s : 1) }'; }
# The server's count of relayed bytes, from its latest stats line (one a second).
relayed_so_far() {
  local bytes
  bytes=$(grep -o "relayed in all: [0-9]*" "$work/server.log" | tail -1 | awk '{print $4}')
  [ -z "$bytes" ] || [ "$bytes" = 0 ] || echo "; the server has relayed $bytes bytes"
}
download clean.bin 240
[ -z "$(connect_ms bob)" ] || echo "the datagram connection was established $(connect_ms bob) ms after bob's call"

for name in alice bob; do
  netns_run "$name-gw" iptables -I FORWARD -m statistic --mode random --probability 0.05 -j DROP
done
download lossy.bin 400
dropped=$(netns_run bob-gw iptables -L FORWARD -v -n -x | awk '/statistic/ {print $1}')
[ "$dropped" -gt 0 ] || fail "no packet was dropped"
echo "($dropped packets dropped at bob's router)"

ctl bob download alice '\again.bin' > /dev/null || fail "the download of again.bin did not start"
wait_for 120 started_past bob again.bin 20 || fail "again.bin did not get going"
kill -9 "${pids[bob]}"
wait "${pids[bob]}" 2>/dev/null || true
start_copy bob
start=$SECONDS
# What bob's task and its links were doing, for a failure's report.
task_state() { task_line bob "$1"; ctl bob properties "$(task_line bob "$1" | awk '{print $1}')" 2>&1 | head -20; }
wait_for 400 finished bob again.bin || fail "again.bin did not finish after the requester's crash: $(task_state again.bin)"
cmp -s "$work/alice/share/again.bin" "$work/bob/downloads/again.bin" || fail "again.bin differs after the crash"
echo "after SIGKILL of the requester the download resumed and finished byte-identical in $((SECONDS - start)) s$(relayed_so_far)"
