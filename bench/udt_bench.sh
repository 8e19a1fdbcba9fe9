#!/usr/bin/env bash
# Download speed over the reliable datagram transport beside the same download over TCP, on
# loopback, in one run: the requester fetches a file over TCP, then, with TCP to the sharer's
# transfer port refused by iptables, a copy of it over the datagram transport. Both are written
# to disk and checked byte for byte. Prints MB/s of each and the ratio.
# Usage (as root): bench/udt_bench.sh [SIZE_MIB]   (256 MiB by default)
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-256}
[ "$(id -u)" -eq 0 ] || { echo "udt_bench: needs root (iptables)" >&2; exit 1; }
bash scripts/setup.sh > /dev/null
bash scripts/build.sh release > /dev/null
bin=$PWD/build/release
vandry=$bin/src/main/vandry vandryctl=$bin/src/main/vandryctl server=$bin/server/vandry-server
source scripts/start-server.sh

work=$(mktemp -d "${TMPDIR:-/var/tmp}/vandry-udt-bench.XXXXXX")
pids=()
rule=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ ${#rule[@]} -eq 0 ] || iptables -D "${rule[@]}" 2>/dev/null || true
  rm -rf "$work"
}
trap stop_all EXIT

now() { date +%s.%N; }
calc() { awk "BEGIN {printf \"$1\", $2}"; }
ctl() { local name=$1; shift; "$vandryctl" --home "$work/$name/home" "$@"; }
start_copy() {
  mkdir -p "$work/$1/share" "$work/$1/downloads"
  "$vandry" --headless --home "$work/$1/home" --nick "$1" --share "$work/$1/share" \
    --download "$work/$1/downloads" --feed "$feed" --port-mapping off >> "$work/$1.log" 2>&1 &
  pids+=($!)
}

start_server "$server" "$work/server.log"
pids+=("$server_pid")
start_copy alice
start_copy bob
head -c $((size_mib << 20)) /dev/urandom > "$work/alice/share/tcp.bin"
cp "$work/alice/share/tcp.bin" "$work/alice/share/udt.bin"
bytes=$((size_mib << 20))
deadline=$((SECONDS + 60))
until ctl bob neighbours 2>/dev/null | grep -q " alice\$"; do
  [ $SECONDS -lt $deadline ] || { echo "bob never saw alice" >&2; exit 1; }
  sleep 0.2
done

# A pipe nobody writes to: `read -t` on it waits without starting a process.
mkfifo "$work/idle"
exec {idle}<> "$work/idle"
pause() { read -rt "$1" -u "$idle" || true; }
records="$work/bob/home/state/resume"
rate_of() { # file name: downloads it and prints MB/s
  local t0 t1
  sync
  t0=$(now)
  ctl bob download alice "\\$1" > /dev/null
  # The download's resume record exists from its first block to its last: watching it with
  # shell builtins keeps the measuring from taking CPU time away from the copies.
  until compgen -G "$records/*.resume" > /dev/null; do pause 0.005; done
  while compgen -G "$records/*.resume" > /dev/null; do
    [ $SECONDS -lt $((deadline + 1800)) ] || { echo "the download of $1 did not finish" >&2; exit 1; }
    pause 0.01
  done
  t1=$(now)
  until ctl bob tasks | grep -F "/$1 " | grep -q "结束传输"; do
    [ $SECONDS -lt $((deadline + 1860)) ] || { echo "$1 did not end as finished" >&2; exit 1; }
    sleep 0.2
  done
  cmp -s "$work/alice/share/$1" "$work/bob/downloads/$1" || { echo "$1 differs" >&2; exit 1; }
  calc "%.1f" "$bytes / 1e6 / ($t1 - $t0)"
}

tcp_mbs=$(rate_of tcp.bin)
port=$(ctl alice --json status | grep -o '"tcp_port": *[0-9]*' | grep -o '[0-9]*$')
rule=(OUTPUT -o lo -p tcp --dport "$port" -j REJECT --reject-with tcp-reset)
iptables -A "${rule[@]}"
udt_mbs=$(rate_of udt.bin)
echo "== download of a ${size_mib} MiB file on loopback, written to disk"
printf '%-10s %10s\n' path "MB/s"
printf '%-10s %10s\n' TCP "$tcp_mbs" datagram "$udt_mbs"
echo "datagram/TCP: $(calc "%.2f" "$udt_mbs / $tcp_mbs")"
