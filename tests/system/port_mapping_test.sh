#!/usr/bin/env bash
# Two copies, each behind a home router of its own that runs miniupnpd and lets in only established
# traffic and what it forwards. Alice asks her router by UPnP-IGD, bob his by NAT-PMP: the
# mappings appear in the routers, bob downloads 20 MiB from alice byte-identical over a plain TCP
# link to alice's router's forwarded port, and once alice quits her router forwards nothing more.
# Usage: port_mapping_test.sh VANDRY VANDRYCTL VANDRY_SERVER STUN_RESPONDER
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3 netns_stun_responder=$4
source "$(dirname "$0")/copies.sh"
source "$(dirname "$0")/netns.sh"
command -v miniupnpd >/dev/null || netns_skip "needs miniupnpd (Debian: miniupnpd-iptables)"

subnet=198.18.$((($$ + 50) % 250))
netns_internet "$subnet"
netns_home alice 11
netns_home bob 12
netns_upnp alice || fail "miniupnpd did not start in alice's router"
netns_upnp bob || fail "miniupnpd did not start in bob's router"

start_server "$server" "$work/server.log" "$subnet.1" || fail "the server did not start"
pids[server]=$server_pid
mkdir -p "$work/alice/share"
head -c $((20 << 20)) /dev/urandom > "$work/alice/share/file.bin"
# Alice uploads at 4 MiB/s, so that the link is seen while it runs.
declare -A options=([alice]="--port-mapping upnp --upload-limit 4096" [bob]="--port-mapping natpmp")
declare -A logged=([alice]="UPnP maps" [bob]="NAT-PMP maps")
for name in alice bob; do
  copy_ns[$name]="${netns_tag}$name"
  started=$(date +%s%N)
  start_copy "$name" ${options[$name]}
  wait_for 30 grep -q "port mapping: ${logged[$name]}" "$work/$name.log" || fail "$name's router mapped nothing"
  echo "$name: $(grep -m1 "port mapping: ${logged[$name]}" "$work/$name.log" | sed 's/.*port mapping: //')"
  echo "$name: mapped within $((($(date +%s%N) - started) / 1000000)) ms of the start (polled every 200 ms)"
done

for name in alice bob; do
  echo "$name's router forwards:"
  netns_upnp_mappings "$name" | sed 's/^/  /'
  netns_upnp_mappings "$name" | grep -q "^TCP:1552:198.19.*:1552:" || fail "no TCP forwarding in $name's router"
  netns_upnp_mappings "$name" | grep -q "^UDP:1552:198.19.*:1552:" || fail "no UDP forwarding in $name's router"
done

wait_for 30 sees bob alice || fail "bob does not see alice"
browses() { ctl bob browse alice | grep -q file.bin; }
wait_for 60 browses || fail "bob cannot browse alice"

# The TCP forwarding in alice's router, and how many connections it has let in.
forwarded_tcp() { netns_run alice-gw iptables-legacy -t nat -L MINIUPNPD -v -n -x | awk '$4 == "tcp" || $4 == "6" {print $1; exit}'; }
before=$(forwarded_tcp)
start=$SECONDS path=""
ctl bob download alice '\file.bin' > /dev/null || fail "the download did not start"
until finished bob file.bin; do
  [ $SECONDS -lt $((start + 120)) ] || fail "file.bin did not finish within 120 s"
  if [ -z "$path" ]; then
    task=$(task_line bob file.bin | awk '{print $1}')
    path=$(ctl bob properties "$task" 2>/dev/null | sed -n 's/^link .*  via //p' | head -1 || true)
  fi
  sleep 0.3
done
cmp -s "$work/alice/share/file.bin" "$work/bob/downloads/file.bin" || fail "file.bin differs"
after=$(forwarded_tcp)
echo "file.bin: 20 MiB byte-identical in $((SECONDS - start)) s over ${path:-an unseen path}"
echo "alice's router let in $((after - before)) TCP connection(s) through its forwarding"
[[ "$path" == "TCP $subnet.11:"* ]] || fail "bob's link did not go over TCP to alice's router: ${path:-none seen}"
[ "$after" -gt "$before" ] || fail "no connection came in through alice's forwarded port"

for name in alice bob; do
  ctl "$name" quit > /dev/null || fail "$name did not take quit"
  wait_for 20 eval '! kill -0 '"${pids[$name]}" || fail "$name did not stop"
  [ -z "$(netns_upnp_mappings "$name")" ] || fail "$name's router still forwards after the quit: $(netns_upnp_mappings "$name")"
  echo "$name quit: $(grep -c "port mapping: removed" "$work/$name.log") mappings removed, the router forwards nothing"
done
echo "port mapping gives a direct TCP link: ok"
