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
