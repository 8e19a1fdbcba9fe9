# Sourced by the demo, the screenshot script and the multi-copy tests.
# start_server SERVER LOG [ADDRESS [OPTION...]]: starts vandry-server on ports the system picks (so
# another program on a fixed port cannot stop it), with the further options given, then sets
# server_pid and feed (the feed's address).
start_server() {
  local server=$1 log=$2 address=${3:-127.0.0.1} line=""
  shift $(($# < 3 ? $# : 3))
  "$server" --udp "$address:0" --http "$address:0" "$@" > "$log" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do
    line=$(grep -m1 " started: " "$log" || true)
    [ -n "$line" ] || ! kill -0 "$server_pid" 2>/dev/null && break
    sleep 0.1
  done
  if [[ ! "$line" =~ HTTP\ ([0-9.]+:[0-9]+) ]]; then
    echo "vandry-server did not start:" >&2
    cat "$log" >&2
    return 1
  fi
  feed="http://${BASH_REMATCH[1]}/feed"
}
