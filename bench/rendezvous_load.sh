#!/usr/bin/env bash
# Measures vandry-server under the load generator: the server pinned to one core, the generator to
# another, both on loopback. Prints the generator's report (announces, lists, completeness, the
# server's CPU share and peak memory) and the server's last stats line.
# Usage: bench/rendezvous_load.sh COPIES JOIN_WITHIN_S DURATION_S [BUILD_DIR]
#   e.g. bench/rendezvous_load.sh 100000 60 220    (100,000 copies joining within a minute)
set -euo pipefail
# On a shared machine the two processes would otherwise wait behind other work; as root, run
# them ahead of it.
boost=()
[ "$(id -u)" -ne 0 ] || boost=(nice -n -10)
copies=${1:?copies} join=${2:?join within seconds} duration=${3:?duration seconds}
build=${4:-build/release}
server="$build/server/vandry-server"
load="$build/bench/rendezvous_load/rendezvous_load"
work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"${boost[@]}" taskset -c 0 "$server" --udp 127.0.0.1:0 --stats 10 > "$work/server.log" 2>&1 &
server_pid=$!
line=""
for _ in $(seq 100); do
  line=$(grep -m1 " started: " "$work/server.log" || true)
  [ -n "$line" ] && break
  sleep 0.1
done
[[ "$line" =~ UDP\ ([0-9.]+:[0-9]+) ]] || { cat "$work/server.log" >&2; exit 1; }
"${boost[@]}" taskset -c 1 "$load" --server "${BASH_REMATCH[1]}" --copies "$copies" --join-within "$join" \
  --duration "$duration" --server-pid "$server_pid" 2> "$work/progress.txt"
grep "stats:" "$work/server.log" | tail -1
