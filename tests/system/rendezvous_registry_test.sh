#!/usr/bin/env bash
# Two vandry-servers sharing one Redis registry, with 150 copies (played by the load generator) at
# each: every copy must list all 299 others, those at the other server included. Then one server is
# killed and its copies announce to the other, which must take them over once they have fallen
# silent at their old endpoints, so that they too list all the others again.
# Usage: rendezvous_registry_test.sh VANDRY_SERVER RENDEZVOUS_LOAD
# Needs redis-server; exits 77 (skipped) without it, but fails under CI, which must run it.
set -euo pipefail
server=$1 load=$2
if ! command -v redis-server >/dev/null; then
  echo "skipped: needs redis-server"
  [ -z "${CI:-}" ] || exit 1
  exit 77
fi
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

redis_port=""
for attempt in 1 2 3 4 5; do
  port=$((20000 + (RANDOM % 20000)))
  redis-server --port "$port" --bind 127.0.0.1 --save "" --appendonly no --dir "$work" \
    > "$work/redis.log" 2>&1 &
  pid=$!
  for _ in $(seq 50); do
    grep -q "Ready to accept connections" "$work/redis.log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if grep -q "Ready to accept connections" "$work/redis.log"; then
    redis_port=$port
    pids+=("$pid")
    break
  fi
done
[ -n "$redis_port" ] || { echo "FAIL: redis-server did not start" >&2; cat "$work/redis.log" >&2; exit 1; }

# start_rendezvous NAME: sets endpoint and server_pid.
start_rendezvous() {
  local log="$work/$1.log" line=""
  "$server" --udp 127.0.0.1:0 --stats 5 --registry "redis://127.0.0.1:$redis_port" > "$log" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  for _ in $(seq 100); do
    line=$(grep -m1 " started: " "$log" || true)
    [ -n "$line" ] && break
    sleep 0.1
  done
  [[ "$line" =~ UDP\ ([0-9.]+:[0-9]+) ]] || { echo "FAIL: $1 did not start" >&2; cat "$log" >&2; exit 1; }
  endpoint=${BASH_REMATCH[1]}
}
start_rendezvous a
a_endpoint=$endpoint a_pid=$server_pid
start_rendezvous b
b_endpoint=$endpoint

# play NAME SERVER FIRST_COPY FIRST_ADDRESS DURATION: 150 copies of the 300, in the background.
play() {
  "$load" --server "$2" --copies 150 --first-copy "$3" --population 300 --first "$4" --join-within 2 \
    --duration "$5" --expect-complete > "$work/$1.txt" 2> "$work/$1.progress" &
  pids+=("$!")
  player_pid=$!
}
expect_complete() {
  local status=0
  wait "$2" || status=$?
  cat "$work/$1.txt"
  if [ "$status" -ne 0 ]; then
    echo "FAIL: $1: not every copy lists all the others (status $status)" >&2
    cat "$work/$1.progress" >&2
    exit 1
  fi
}

# Both servers, 150 copies each, for two announce periods and a little.
play at_a "$a_endpoint" 0 127.5.0.1 50
at_a=$player_pid
play at_b "$b_endpoint" 150 127.6.0.1 150
at_b=$player_pid
expect_complete at_a "$at_a"

# Server A dies; its copies turn to B from new endpoints. B takes each over once it has been silent
# at its old endpoint long enough (or once the registry has expired it), then lists it to everyone.
kill -KILL "$a_pid"
play moved_to_b "$b_endpoint" 0 127.5.0.1 95
expect_complete moved_to_b "$player_pid"
expect_complete at_b "$at_b"
grep -q "stats: 300 copies" "$work/b.log" || { echo "FAIL: server B does not hold all 300 copies" >&2; exit 1; }
echo "ok"
