#!/usr/bin/env bash
# Two headless copies in network namespaces of their own, with every TCP connection between them
# refused, so that links fall back to the reliable datagram transport: they browse each other and
# download 20 MiB byte-identical, then again with 5% of the datagrams between them dropped.
# Usage: datagram_netns_test.sh VANDRY VANDRYCTL VANDRY_SERVER
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3
source "$(dirname "$0")/copies.sh"
source "$(dirname "$0")/netns.sh"

subnet=198.19.$(($$ % 250))
netns_internet "$subnet"
netns_host alice 11
netns_host bob 12
# Each copy refuses TCP to and from the other; the server stays reachable.
for pair in "alice 12" "bob 11"; do
  set -- $pair
  netns_run "$1" iptables -A OUTPUT -p tcp -d "$subnet.$2" -j REJECT --reject-with tcp-reset
  netns_run "$1" iptables -A INPUT -p tcp -s "$subnet.$2" -j DROP
done

netns_start_copies "$server" alice bob
head -c $((20 << 20)) /dev/urandom > "$work/alice/share/clean.bin"
head -c $((20 << 20)) /dev/urandom > "$work/alice/share/lossy.bin"
echo hello > "$work/bob/share/note.txt"

browses() { ctl "$1" browse "$2" | grep -q "$3"; }
refused_tcp() { netns_run bob iptables -L OUTPUT -v -n -x | awk '/REJECT/ {print $1}'; }

wait_for 30 sees bob alice || fail "bob does not see alice"
wait_for 30 sees alice bob || fail "alice does not see bob"
wait_for 20 browses bob alice clean.bin || fail "bob cannot browse alice"
wait_for 20 browses alice bob note.txt || fail "alice cannot browse bob"
echo "alice and bob see and browse each other"

start=$SECONDS
ctl bob download alice '\clean.bin' > /dev/null || fail "the download did not start"
wait_for 240 finished bob clean.bin || fail "clean.bin did not finish"
cmp -s "$work/alice/share/clean.bin" "$work/bob/downloads/clean.bin" || fail "clean.bin differs"
[ "$(refused_tcp)" -gt 0 ] || fail "bob never tried TCP: the test proves nothing"
echo "20 MiB over the datagram transport, TCP refused, in $((SECONDS - start)) s"

# 5% of the datagrams between the copies are lost, in each direction.
for pair in "alice 12" "bob 11"; do
  set -- $pair
  netns_run "$1" iptables -A INPUT -p udp -s "$subnet.$2" -m statistic --mode random --probability 0.05 -j DROP
done
start=$SECONDS
ctl bob download alice '\lossy.bin' > /dev/null || fail "the lossy download did not start"
wait_for 400 finished bob lossy.bin || fail "lossy.bin did not finish"
cmp -s "$work/alice/share/lossy.bin" "$work/bob/downloads/lossy.bin" || fail "lossy.bin differs"
dropped=$(netns_run bob iptables -L INPUT -v -n -x | awk '/statistic/ {print $1}')
[ "$dropped" -gt 0 ] || fail "no datagram was dropped"
echo "20 MiB with 5% loss ($dropped datagrams dropped at bob) in $((SECONDS - start)) s"
