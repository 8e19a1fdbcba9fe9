#!/usr/bin/env bash
# Three headless copies, each in a network namespace of its own with its own address, find each
# other through vandry-server, configured only with the server's feed address. Then one quits
# and drops out of the others' lists by the 120-second rule.
# Usage: discovery_netns_test.sh VANDRY VANDRYCTL VANDRY_SERVER
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3
source "$(dirname "$0")/copies.sh"
source "$(dirname "$0")/netns.sh"

subnet=198.18.$(($$ % 250))
netns_internet "$subnet"
start_server "$server" "$work/server.log" "$subnet.1" || fail "the server did not start"
pids[server]=$server_pid
names=(alice bob carol)
for i in 1 2 3; do
  name=${names[$((i - 1))]}
  netns_host "$name" "1$i"
  copy_ns[$name]="${netns_tag}$name"
  start_copy "$name"
done

lists_all() { # name, then the nicknames its list must hold
  local list
  list=$(ctl "$1" neighbours 2>/dev/null) || return 1
  shift
  for other in "$@"; do grep -q " $other\$" <<<"$list" || return 1; done
}
everyone_listed() { lists_all alice bob carol && lists_all bob alice carol && lists_all carol alice bob; }

wait_for 30 everyone_listed || fail "copies did not list each other within 30 s"
echo "all three copies list each other after $SECONDS s"

ctl carol quit
gone_at=$SECONDS
# The server keeps listing carol until it forgets her (45 s); from her last listing the others
# keep her 120 s more, and see the change with the next list they get (every 20 s).
carol_gone() { ! lists_all alice carol && ! lists_all bob carol; }
wait_for 200 carol_gone || fail "carol still listed 200 s after it quit"
waited=$((SECONDS - gone_at))
[ "$waited" -ge 120 ] || fail "carol dropped out after only $waited s, before the 120 s rule"
lists_all alice bob && lists_all bob alice || fail "alice and bob lost each other"
echo "carol dropped out of both lists after $waited s; alice and bob still list each other"
