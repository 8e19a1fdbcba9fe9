# Sourced by the namespace tests after copies.sh: an "internet" bridge in the test's own /24 of
# 198.18.0.0/15, hosts attached to it, and home networks behind Linux address translators. Every
# namespace and link carries the test's tag and goes at exit. Needs root, iproute2 and iptables;
# without them the test is skipped (exit 77), except under CI, which must run it.
netns_tag="n$$"
netns_names=()
netns_skip() {
  echo "skipped: $1"
  [ -z "${CI:-}" ] || exit 1
  exit 77
}
netns_cleanup() {
  local ns
  for ns in "${netns_names[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
  ip link del "${netns_tag}br" 2>/dev/null || true
}
# Runs after copies.sh's cleanup (which kills the copies first), unless KEEP_WORK is set.
trap "${KEEP_WORK:+:} cleanup; ${KEEP_WORK:+:} netns_cleanup" EXIT

if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! command -v iptables >/dev/null; then
  netns_skip "needs root, iproute2 and iptables"
fi

# netns_internet SUBNET: the bridge, at SUBNET.1 (SUBNET is three octets, e.g. 198.18.7).
netns_internet() {
  netns_subnet=$1
  ip link add "${netns_tag}br" type bridge 2>/dev/null || netns_skip "cannot create network devices here"
  ip addr add "$netns_subnet.1/24" dev "${netns_tag}br"
  ip link set "${netns_tag}br" up
}

# netns_link NS ADDRESS/PREFIX PEER_NS|bridge: a veth pair from NS (which is created when new) to
# the bridge or into PEER_NS; sets netns_near and netns_far to the names of its two ends.
netns_links=0
netns_link() {
  local ns=$1 address=$2 peer=$3
  netns_links=$((netns_links + 1))
  local inner="${netns_tag}a$netns_links" outer="${netns_tag}b$netns_links"
  netns_near=$inner netns_far=$outer
  ip netns list | awk '{print $1}' | grep -qx "$ns" || { ip netns add "$ns"; netns_names+=("$ns"); ip -n "$ns" link set lo up; }
  ip link add "$inner" type veth peer name "$outer"
  ip link set "$inner" netns "$ns"
  ip -n "$ns" addr add "$address" dev "$inner"
  ip -n "$ns" link set "$inner" up
  if [ "$peer" = bridge ]; then
    ip link set "$outer" master "${netns_tag}br" up
  else
    ip link set "$outer" netns "$peer"
    ip -n "$peer" link set "$outer" up
  fi
}

# netns_host NAME N: namespace ${netns_tag}NAME at SUBNET.N on the bridge.
netns_host() {
  local ns="${netns_tag}$1"
  netns_link "$ns" "$netns_subnet.$2/24" bridge
  ip -n "$ns" route add default via "$netns_subnet.1"
}

# netns_home NAME N [random]: a home network. The translator ${netns_tag}NAME-gw sits on the bridge at
# SUBNET.N and masquerades the home namespace ${netns_tag}NAME, at 198.19.N.2 behind it. Only
# established traffic comes in. With "random", every new flow leaves from a port of its own, so
# nothing from outside ever matches a mapping that was not made for it.
netns_home() {
  local name=$1 n=$2 mode=${3:-} gw="${netns_tag}$1-gw" home="${netns_tag}$1"
  netns_link "$gw" "$netns_subnet.$n/24" bridge
  local wan_side=$netns_near
  ip -n "$gw" route add default via "$netns_subnet.1"
  netns_link "$home" "198.19.$n.2/24" "$gw"
  local lan_side=$netns_far
  ip -n "$gw" addr add "198.19.$n.1/24" dev "$lan_side"
  ip -n "$home" route add default via "198.19.$n.1"
  ip netns exec "$gw" sysctl -qw net.ipv4.ip_forward=1
  ip netns exec "$gw" iptables -P FORWARD DROP
  ip netns exec "$gw" iptables -A FORWARD -i "$lan_side" -j ACCEPT
  ip netns exec "$gw" iptables -A FORWARD -m conntrack --ctstate ESTABLISHED,RELATED -j ACCEPT
  ip netns exec "$gw" iptables -t nat -A POSTROUTING -o "$wan_side" -j MASQUERADE ${mode:+--random-fully}
}

# netns_run NAME COMMAND...: runs COMMAND in the namespace ${netns_tag}NAME.
netns_run() { local ns="${netns_tag}$1"; shift; ip netns exec "$ns" "$@"; }

# netns_upnp NAME: runs miniupnpd (UPnP-IGD and NAT-PMP, its iptables backend) in the translator of
# the home network NAME, listening on the LAN side, so that hosts there can have ports of the WAN
# address forwarded to them. Its rules go into chains of its own in the legacy iptables tables,
# which that backend writes; the translator's forwarding policy then lets in what they translated.
# miniupnpd maps nothing on a WAN address it deems private (198.18.0.0/15 is), unless a STUN
# server shows it an unfiltered path: the test's STUN responder ($netns_stun_responder, started
# once on the bridge) answers it. Waits until miniupnpd listens; its log is $work/NAME-gw.upnp.log.
netns_upnp() {
  local name=$1 gw="${netns_tag}$1-gw" dir="$work/$1-gw" wan lan chain
  command -v miniupnpd >/dev/null && command -v iptables-legacy >/dev/null || netns_skip "needs miniupnpd-iptables"
  wan=$(ip -n "$gw" -o route show default | awk '{print $5}')
  lan=$(ip -n "$gw" -o -4 addr show | awk '$4 ~ /^198[.]19[.]/ {print $2}')
  [ -n "$wan" ] && [ -n "$lan" ] || return 1
  if [ -z "${pids[stun]:-}" ]; then
    "${netns_stun_responder:?the test names its STUN responder}" "$netns_subnet.1" 3478 &
    pids[stun]=$!
  fi
  mkdir -p "$dir"
  for chain in "nat MINIUPNPD" "mangle MINIUPNPD" "filter MINIUPNPD" "nat MINIUPNPD-POSTROUTING"; do
    set -- $chain
    ip netns exec "$gw" iptables-legacy -t "$1" -N "$2"
  done
  ip netns exec "$gw" iptables-legacy -t nat -I PREROUTING -i "$wan" -j MINIUPNPD
  ip netns exec "$gw" iptables-legacy -t mangle -I PREROUTING -i "$wan" -j MINIUPNPD
  ip netns exec "$gw" iptables-legacy -t filter -I FORWARD -i "$wan" ! -o "$wan" -j MINIUPNPD
  ip netns exec "$gw" iptables-legacy -t nat -I POSTROUTING -o "$wan" -j MINIUPNPD-POSTROUTING
  ip netns exec "$gw" iptables -I FORWARD -i "$wan" -m conntrack --ctstate DNAT -j ACCEPT
  cat > "$dir/miniupnpd.conf" <<CONF
ext_ifname=$wan
listening_ip=$lan
port=0
enable_upnp=yes
enable_natpmp=yes
secure_mode=yes
system_uptime=yes
uuid=$(cat /proc/sys/kernel/random/uuid)
lease_file=$dir/leases
ext_perform_stun=yes
ext_stun_host=$netns_subnet.1
ext_stun_port=3478
allow 1024-65535 198.19.0.0/16 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
CONF
  ip netns exec "$gw" miniupnpd -f "$dir/miniupnpd.conf" -P "$dir/miniupnpd.pid" -d > "$work/$name-gw.upnp.log" 2>&1 &
  pids[$name-upnp]=$!
  local deadline=$((SECONDS + 20))
  until grep -q "Listening for NAT-PMP" "$work/$name-gw.upnp.log"; do
    [ $SECONDS -lt $deadline ] && kill -0 "${pids[$name-upnp]}" 2>/dev/null || return 1
    sleep 0.2
  done
  grep -q "Port forwarding is now enabled" "$work/$name-gw.upnp.log"
}

# netns_upnp_mappings NAME: the forwardings miniupnpd holds in NAME's translator, one a line, as
# its lease file has them (PROTOCOL:EXTERNAL_PORT:CLIENT:PORT:EXPIRY:DESCRIPTION), and the DNAT
# rules it wrote (iptables shows these without their destination).
netns_upnp_mappings() {
  cat "$work/$1-gw/leases" 2>/dev/null || true
  netns_run "$1-gw" iptables-legacy -t nat -S MINIUPNPD | grep -- "-j DNAT" || true
}

# netns_start_copies SERVER NAME...: vandry-server on the bridge (a stats line a second), then a copy in the namespace of
# each NAME (netns_host or netns_home made it).
netns_start_copies() {
  local server=$1 name
  shift
  start_server "$server" "$work/server.log" "$netns_subnet.1" --stats 1 || fail "the server did not start"
  pids[server]=$server_pid
  for name in "$@"; do
    copy_ns[$name]="${netns_tag}$name"
    start_copy "$name"
  done
}
