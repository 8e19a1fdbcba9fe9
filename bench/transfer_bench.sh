#!/usr/bin/env bash
# Download speed of Vandry beside curl fetching the same file from nginx, in one run:
#   (a) on loopback; between two network namespaces joined by a user-space delay line with
#   (b) 10 ms round trip, (c) 50 ms, (d) 10 ms and 1% loss in each direction, (e) 10 ms with
#   each direction held to 80 Mbit/s, a home line's rate.
# Each download is written to disk and checked byte for byte. Prints MB/s, the ratio
# Vandry/curl, and the CPU seconds per GiB of each side (requester + sharer).
# Usage (as root): bench/transfer_bench.sh [SIZE_MIB [CASE...]]   (1024 MiB and every case by
# default; cases: loopback, 10ms, 50ms, 10ms-loss, 10ms-80mbit)
#   or: bench/transfer_bench.sh --files COUNT KIB [CASE...]: the share
# holds a folder of COUNT files of KIB KiB instead: curl fetches them one after another over one
# connection, Vandry downloads the folder.
set -euo pipefail
cd "$(dirname "$0")/.."
file_count=0 file_kib=0
if [ "${1:-}" = --files ]; then
  file_count=$2 file_kib=$3
  shift 3
fi
size_mib=1024
if [ "$file_count" -eq 0 ]; then
  size_mib=${1:-1024}
  shift $(($# > 0 ? 1 : 0))
fi
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(loopback 10ms 50ms 10ms-loss)
[ "$(id -u)" -eq 0 ] || { echo "transfer_bench: needs root (network namespaces)" >&2; exit 1; }
bash scripts/setup.sh > /dev/null
bash scripts/build.sh release > /dev/null
bin=$PWD/build/release
vandry=$bin/src/main/vandry vandryctl=$bin/src/main/vandryctl server=$bin/server/vandry-server
for program in "$vandry" "$vandryctl" "$server"; do
  [ -x "$program" ] || { echo "transfer_bench: $program was not built" >&2; exit 1; }
done
delayline_source=$(realpath ../shared/tools/delayline.c)
source scripts/start-server.sh

work=$(mktemp -d "${TMPDIR:-/var/tmp}/vandry-bench.XXXXXX")
tag="vb$$"
pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
  ip netns del "${tag}a" 2>/dev/null || true
  ip netns del "${tag}b" 2>/dev/null || true
}
trap 'stop_all; rm -rf "$work"' EXIT

# CPU seconds (user + system) a process has used so far.
cpu_of() { awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "/proc/$1/stat"; }
now() { date +%s.%N; }
calc() { awk "BEGIN {printf \"$1\", $2}"; }

cc -O2 -o "$work/delayline" "$delayline_source"
# A pipe nobody writes to: `read -t` on it waits without starting a process.
mkfifo "$work/idle"
exec {idle}<> "$work/idle"
pause() { read -rt "$1" -u "$idle" || true; }
mkdir -p "$work/share"
if [ "$file_count" -eq 0 ]; then
  head -c $((size_mib << 20)) /dev/urandom > "$work/share/big.bin"
  bytes=$((size_mib << 20))
  source_dir=$work/share
else
  mkdir "$work/share/many"
  head -c $((file_count * file_kib << 10)) /dev/urandom | split -a 5 -d -b $((file_kib << 10)) - "$work/share/many/f"
  bytes=$((file_count * file_kib << 10))
  source_dir=$work/share/many
  size_mib=$(calc "%.4f" "$bytes / 1048576")
fi


# The two ends: commands prefixed with in_a / in_b run where the sharer / requester lives
# (`ip netns exec` execs, so a background job's $! is the program itself).
in_a=() in_b=()

# Joins two fresh namespaces through the delay line (one-way µs, loss in ppm).
make_line() {
  ns_a="${tag}a" ns_b="${tag}b"
  in_a=(ip netns exec "$ns_a") in_b=(ip netns exec "$ns_b")
  ip netns add "$ns_a"
  ip netns add "$ns_b"
  "$work/delayline" "${tag}ta" "${tag}tb" "$1" "$2" 3600 > "$work/line.out" 2> "$work/line.err" &
  pids+=($!)
  for _ in $(seq 50); do grep -q ready "$work/line.out" && break; sleep 0.1; done
  ip link set "${tag}ta" netns "$ns_a"
  ip link set "${tag}tb" netns "$ns_b"
  ip -n "$ns_a" addr add 198.18.200.1/30 dev "${tag}ta"
  ip -n "$ns_b" addr add 198.18.200.2/30 dev "${tag}tb"
  for ns in "$ns_a" "$ns_b"; do
    ip -n "$ns" link set lo up
    ip -n "$ns" link set "${tag}t${ns: -1}" up
  done
  ip -n "$ns_a" route add default via 198.18.200.2
  ip -n "$ns_b" route add default via 198.18.200.1
  address_a=198.18.200.1
  # The delay line has no rate of its own: a token bucket on each side's device sets one.
  if [ -n "${3:-}" ]; then
    for ns in "$ns_a" "$ns_b"; do
      ip netns exec "$ns" tc qdisc add dev "${tag}t${ns: -1}" root tbf rate "$3" burst 64kb latency 100ms
    done
  fi
}

nginx_rate() {
  mkdir -p "$work/nginx/logs"
  cat > "$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server { listen $address_a:18080; root $work/share; }
}
EOF
  "${in_a[@]}" nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
  local worker=$!
  pids+=("$worker")
  sleep 0.5
  local cpu0 t0 t1 curl_cpu
  sync # each download starts with no dirty pages of the last one to write back
  cpu0=$(cpu_of "$worker")
  t0=$(now)
  # One curl fetches every file over one kept-alive connection.
  rm -rf "$work/curl" && mkdir "$work/curl"
  if [ "$file_count" -eq 0 ]; then
    printf 'url = "http://%s:18080/big.bin"\noutput = "%s/big.bin"\n' "$address_a" "$work/curl" > "$work/curl.list"
  else
    for f in "$work"/share/many/*; do
      printf 'url = "http://%s:18080/many/%s"\noutput = "%s/%s"\n' "$address_a" "${f##*/}" "$work/curl" "${f##*/}"
    done > "$work/curl.list"
  fi
  curl_cpu=$( { TIMEFORMAT='%U %S'; time "${in_b[@]}" curl -sS -K "$work/curl.list"; } 2>&1 | awk '{print $1 + $2}')
  t1=$(now)
  diff -r "$source_dir" "$work/curl" > /dev/null || { echo "curl's copy differs" >&2; exit 1; }
  rm -rf "$work/curl"
  curl_mbs=$(calc "%.1f" "$bytes / 1e6 / ($t1 - $t0)")
  curl_cpu_gib=$(calc "%.2f" "($curl_cpu + $(cpu_of "$worker") - $cpu0) * 1024 / $size_mib")
  kill "$worker"
}

copy_home() { echo "$work/$1/home"; }
start_copy() { # name, then the prefix that runs it in its place
  local name=$1 share="$work/share"
  shift
  mkdir -p "$work/$name/downloads"
  [ "$name" = alice ] || share="$work/$name/share"
  mkdir -p "$share"
  "$@" "$vandry" --headless --home "$(copy_home "$name")" --nick "$name" --share "$share" \
    --download "$work/$name/downloads" --feed "$feed" --port-mapping off >> "$work/$name.log" 2>&1 &
  pids+=($!)
}
ctl() { local name=$1; shift; "$vandryctl" --home "$(copy_home "$name")" "$@"; }

vandry_rate() {
  printf '#!/bin/sh\nexec %s %s "$@"\n' "${ns_a:+ip netns exec $ns_a}" "$server" > "$work/server.sh"
  chmod +x "$work/server.sh"
  start_server "$work/server.sh" "$work/server.log" "$address_a"
  pids+=("$server_pid")
  rm -rf "$work/alice" "$work/bob"
  start_copy alice "${in_a[@]}"
  local alice=$!
  start_copy bob "${in_b[@]}"
  local bob=$!
  local deadline=$((SECONDS + 60))
  until ctl bob neighbours 2>/dev/null | grep -q " alice\$"; do
    [ $SECONDS -lt $deadline ] || { echo "bob never saw alice" >&2; tail "$work"/*.log >&2; exit 1; }
    sleep 0.2
  done
  local cpu0 t0 t1
  sync
  cpu0=$(calc "%f" "$(cpu_of "$alice") + $(cpu_of "$bob")")
  if [ "$file_count" -eq 0 ]; then
    # The download's resume record exists from its first block to its last: watching it with
    # shell builtins keeps the measuring from taking CPU time away from the copies.
    local records
    records="$(copy_home bob)/state/resume"
    t0=$(now)
    ctl bob download alice '\big.bin' > /dev/null
    until compgen -G "$records/*.resume" > /dev/null; do pause 0.005; done
    while compgen -G "$records/*.resume" > /dev/null; do
      [ $SECONDS -lt $((deadline + 1800)) ] || { echo "the download did not finish" >&2; exit 1; }
      pause 0.01
    done
    t1=$(now)
  else
    # A folder task has no single record to watch: the task list says when it is over.
    t0=$(now)
    ctl bob download alice '\many\' > /dev/null
  fi
  until ctl bob tasks | grep -F " $work/bob/downloads/" | grep -q "结束传输"; do
    [ $SECONDS -lt $((deadline + 1800)) ] || { echo "the download did not end as finished" >&2; exit 1; }
    pause 0.05
  done
  [ "$file_count" -eq 0 ] || t1=$(now)
  vandry_cpu_gib=$(calc "%.2f" "($(cpu_of "$alice") + $(cpu_of "$bob") - $cpu0) * 1024 / $size_mib")
  diff -r "$source_dir" "$work/bob/downloads/${source_dir#"$work/share"}" > /dev/null ||
    { echo "Vandry's copy differs" >&2; exit 1; }
  vandry_mbs=$(calc "%.1f" "$bytes / 1e6 / ($t1 - $t0)")
  rm -rf "$work/bob"
}

if [ "$file_count" -eq 0 ]; then
  echo "== download of a ${size_mib} MiB file, written to disk"
else
  echo "== download of a folder of $file_count files of $file_kib KiB, written to disk"
fi
echo "(loss is 1% in each direction; CPU is user + system time of requester and sharer)"
printf '%-22s %10s %10s %8s %14s %14s\n' path "curl MB/s" "Vandry" ratio "curl CPU s/GiB" "Vandry CPU"
for case in "${cases[@]}"; do
  case "$case" in
    loopback) ns_a="" ns_b="" in_a=() in_b=() address_a=127.0.0.1 ;;
    10ms) make_line 5000 0 ;;
    50ms) make_line 25000 0 ;;
    10ms-loss) make_line 5000 10000 ;;
    10ms-80mbit) make_line 5000 0 80mbit ;;
    *) echo "transfer_bench: no case $case" >&2; exit 2 ;;
  esac
  nginx_rate
  vandry_rate
  printf '%-22s %10s %10s %8s %14s %14s\n' "$case" "$curl_mbs" "$vandry_mbs" \
    "$(calc "%.2f" "$vandry_mbs / $curl_mbs")" "$curl_cpu_gib" "$vandry_cpu_gib"
  stop_all
done
