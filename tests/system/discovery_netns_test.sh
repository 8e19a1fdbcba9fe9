#!/usr/bin/env bash
# Three headless copies, each in a network namespace of its own with its own address, find each
# other through vandry-server, configured only with the server's feed address. Then one quits
# and drops out of the others' lists by the 120-second rule.
# Usage: discovery_netns_test.sh VANDRY VANDRYCTL VANDRY_SERVER
# Needs root and iproute2; exits 77 (skipped) without them, but fails under CI, which must run it.
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3
skip() {
  echo "skipped: $1"
  [ -z "${CI:-}" ] || exit 1
  exit 77
}

if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
  skip "needs root and iproute2"
fi

tag="v$$"
bridge="${tag}br"
subnet=198.18.$(($$ % 250)).
work=$(mktemp -d)
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for i in 1 2 3; do ip netns del "${tag}c$i" 2>/dev/null || true; done
  ip link del "$bridge" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if ! ip link add "$bridge" type bridge 2>/dev/null; then
  skip "cannot create network devices here"
fi
ip addr add "${subnet}1/24" dev "$bridge"
ip link set "$bridge" up
for i in 1 2 3; do
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

source "$(dirname "$0")/../../scripts/start-server.sh"
start_server "$server" "$work/server.log" "${subnet}1"
pids+=("$server_pid")

names=(alice bob carol)
for i in 1 2 3; do
  name=${names[$((i - 1))]}
  mkdir -p "$work/$name/share" "$work/$name/downloads"
  ip netns exec "${tag}c$i" "$vandry" --headless --home "$work/$name/home" --nick "$name" \
    --share "$work/$name/share" --download "$work/$name/downloads" \
    --feed "$feed" > "$work/$name.log" 2>&1 &
  pids+=($!)
done

lists_all() { # name, then the nicknames its list must hold
  local list
  list=$("$vandryctl" --home "$work/$1/home" neighbours 2>/dev/null) || return 1
  shift
  for other in "$@"; do grep -q " $other\$" <<<"$list" || return 1; done
}

deadline=$((SECONDS + 30))
until lists_all alice bob carol && lists_all bob alice carol && lists_all carol alice bob; do
  if [ $SECONDS -ge $deadline ]; then
    echo "FAIL: copies did not list each other within 30 s"
    for name in alice bob carol; do echo "-- $name:"; "$vandryctl" --home "$work/$name/home" neighbours || true; cat "$work/$name.log"; done
    cat "$work/server.log"
    exit 1
  fi
  sleep 0.5
done
echo "all three copies list each other after $((SECONDS - deadline + 30)) s"

"$vandryctl" --home "$work/carol/home" quit
gone_at=$SECONDS
# The server keeps listing carol until it forgets her (45 s); from her last listing the others
# keep her 120 s more, and see the change with the next list they get (every 20 s).
deadline=$((SECONDS + 200))
while lists_all alice carol || lists_all bob carol; do
  if [ $SECONDS -ge $deadline ]; then
    echo "FAIL: carol still listed 200 s after it quit"
    exit 1
  fi
  sleep 2
done
waited=$((SECONDS - gone_at))
if [ "$waited" -lt 120 ]; then
  echo "FAIL: carol dropped out after only $waited s, before the 120 s rule"
  exit 1
fi
lists_all alice bob && lists_all bob alice
echo "carol dropped out of both lists after $waited s; alice and bob still list each other"
