#!/usr/bin/env bash
# 5,000 copies played by the load generator, all announcing within one second to one
# vandry-server on loopback: every copy's list must be complete within two announce periods, the
# server must keep every copy, and its stats line must count them.
# Usage: rendezvous_load_test.sh VANDRY_SERVER RENDEZVOUS_LOAD
set -euo pipefail
server=$1 load=$2
work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$server" --udp 127.0.0.1:0 --stats 5 > "$work/server.log" 2>&1 &
server_pid=$!
line=""
for _ in $(seq 100); do
  line=$(grep -m1 " started: " "$work/server.log" || true)
  [ -n "$line" ] && break
  sleep 0.1
done
if [[ ! "$line" =~ UDP\ ([0-9.]+:[0-9]+) ]]; then
  echo "vandry-server did not start:" >&2
  cat "$work/server.log" >&2
  exit 1
fi
endpoint=${BASH_REMATCH[1]}

# Joining within 1 s, then two periods of 20 s and a little: the second announce of every copy
# has been answered by then.
status=0
"$load" --server "$endpoint" --copies 5000 --join-within 1 --duration 45 --server-pid "$server_pid" \
  --expect-complete > "$work/report.txt" 2> "$work/progress.txt" || status=$?
cat "$work/report.txt"
if [ "$status" -ne 0 ]; then
  echo "FAIL: not every copy's list was complete (status $status)" >&2
  cat "$work/progress.txt" >&2
  exit 1
fi
grep -q "unreadable 0$" "$work/report.txt" || { echo "FAIL: unreadable lists" >&2; exit 1; }
grep -q "refusals/s 0.00" "$work/report.txt" || { echo "FAIL: copies were refused" >&2; exit 1; }
grep -q "stats: 5000 copies" "$work/server.log" || {
  echo "FAIL: the stats line does not count 5000 copies" >&2
  grep "stats:" "$work/server.log" >&2
  exit 1
}
kill -0 "$server_pid" || { echo "FAIL: the server died" >&2; exit 1; }
echo "ok"
