#!/usr/bin/env bash
# Two headless copies in network namespaces of their own, with every TCP connection between them
# refused, so that links fall back to the reliable datagram transport: they browse each other and
# download 20 MiB byte-identical, then again with 5% of the datagrams between them dropped.
# Usage: datagram_netns_test.sh VANDRY VANDRYCTL VANDRY_SERVER
# Needs root, iproute2 and iptables; exits 77 (skipped) without them, but fails under CI.
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3
skip() {
  echo "skipped: $1"
  [ -z "${CI:-}" ] || exit 1
  exit 77
}

if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! command -v iptables >/dev/null; then
  skip "needs root, iproute2 and iptables"
fi

tag="u$$"
bridge="${tag}br"
subnet=198.19.$(($$ % 250)).
work=$(mktemp -d)
pids=()
names=(alice bob)

cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for i in 1 2; do ip netns del "${tag}c$i" 2>/dev/null || true; done
  ip link del "$bridge" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.log; do echo "-- $f"; tail -20 "$f"; done
  for name in "${names[@]}"; do echo "-- $name EVT.TXT"; tail -20 "$work/$name/home/state/EVT.TXT" 2>/dev/null || true; done
  exit 1
}

if ! ip link add "$bridge" type bridge 2>/dev/null; then
  skip "cannot create network devices here"
fi
ip addr add "${subnet}1/24" dev "$bridge"
ip link set "$bridge" up
for i in 1 2; do
  ns="${tag}c$i"
  ip netns add "$ns"
  ip link add "${tag}h$i" type veth peer name "${tag}n$i"
  ip link set "${tag}n$i" netns "$ns"
  ip link set "${tag}h$i" master "$bridge" up
  ip -n "$ns" addr add "${subnet}1$i/24" dev "${tag}n$i"
  ip -n "$ns" link set "${tag}n$i" up
  ip -n "$ns" link set lo up
  ip -n "$ns" route add default via "${subnet}1"
done
# Each copy refuses TCP to and from the other; the server stays reachable.
for i in 1 2; do
  other="${subnet}1$((3 - i))"
  ip netns exec "${tag}c$i" iptables -A OUTPUT -p tcp -d "$other" -j REJECT --reject-with tcp-reset
  ip netns exec "${tag}c$i" iptables -A INPUT -p tcp -s "$other" -j DROP
done

source "$(dirname "$0")/../../scripts/start-server.sh"
start_server "$server" "$work/server.log" "${subnet}1" || fail "the server did not start"
pids+=("$server_pid")

for i in 1 2; do
  name=${names[$((i - 1))]}
  mkdir -p "$work/$name/share" "$work/$name/downloads"
  ip netns exec "${tag}c$i" "$vandry" --headless --home "$work/$name/home" --nick "$name" \
    --share "$work/$name/share" --download "$work/$name/downloads" \
    --feed "$feed" > "$work/$name.log" 2>&1 &
  pids+=($!)
done
head -c $((20 << 20)) /dev/urandom > "$work/alice/share/clean.bin"
head -c $((20 << 20)) /dev/urandom > "$work/alice/share/lossy.bin"
echo hello > "$work/bob/share/note.txt"

ctl() { local name=$1; shift; "$vandryctl" --home "$work/$name/home" "$@"; }
wait_for() { # seconds, then a command that must succeed
  local deadline=$((SECONDS + $1)); shift
  until "$@" 2>/dev/null; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.5; done
}
sees() { ctl "$1" neighbours | grep -q " $2\$"; }
browses() { ctl "$1" browse "$2" | grep -q "$3"; }
task_line() { ctl "$1" tasks | grep -F " $work/$1/downloads/$2 " || true; }
finished() { task_line "$1" "$2" | grep -q "结束传输"; }
refused_tcp() { # packets the copy's REJECT rule answered
  ip netns exec "${tag}c$1" iptables -L OUTPUT -v -n -x | awk '/REJECT/ {print $1}'
}

wait_for 30 sees bob alice || fail "bob does not see alice"
wait_for 30 sees alice bob || fail "alice does not see bob"
wait_for 20 browses bob alice clean.bin || fail "bob cannot browse alice"
wait_for 20 browses alice bob note.txt || fail "alice cannot browse bob"
echo "alice and bob see and browse each other"

start=$SECONDS
ctl bob download alice '\clean.bin' > /dev/null || fail "the download did not start"
wait_for 240 finished bob clean.bin || fail "clean.bin did not finish"
cmp -s "$work/alice/share/clean.bin" "$work/bob/downloads/clean.bin" || fail "clean.bin differs"
[ "$(refused_tcp 2)" -gt 0 ] || fail "bob never tried TCP: the test proves nothing"
echo "20 MiB over the datagram transport, TCP refused, in $((SECONDS - start)) s"

# 5% of the datagrams between the copies are lost, in each direction.
for i in 1 2; do
  other="${subnet}1$((3 - i))"
  ip netns exec "${tag}c$i" iptables -A INPUT -p udp -s "$other" -m statistic --mode random --probability 0.05 -j DROP
done
start=$SECONDS
ctl bob download alice '\lossy.bin' > /dev/null || fail "the lossy download did not start"
wait_for 400 finished bob lossy.bin || fail "lossy.bin did not finish"
cmp -s "$work/alice/share/lossy.bin" "$work/bob/downloads/lossy.bin" || fail "lossy.bin differs"
dropped=$(ip netns exec "${tag}c2" iptables -L INPUT -v -n -x | awk '/statistic/ {print $1}')
[ "$dropped" -gt 0 ] || fail "no datagram was dropped"
echo "20 MiB with 5% loss ($dropped datagrams dropped at bob) in $((SECONDS - start)) s"
