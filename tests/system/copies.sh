# Shared by the multi-copy shell tests: a scratch folder, headless copies that register with the
# test's server, vandryctl on their homes, and waiting for a condition. Sourced after the test
# sets vandry and vandryctl; the test starts its server with start_server, which sets feed.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/start-server.sh"
work=$(mktemp -d)
declare -A pids
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
# KEEP_WORK=1 leaves the copies running and their folders in place, to look into a failure.
trap "${KEEP_WORK:+:} cleanup" EXIT
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.log "$work"/*/home/state/EVT.TXT; do [ -f "$f" ] && echo "-- $f" && tail -20 "$f"; done
  exit 1
}

declare -A copy_ns # a copy's network namespace, when it has one
start_copy() { # name, then more options
  local name=$1 run=() mapping=(--port-mapping off); shift
  # Outside a test namespace a copy would ask the machine's own router for port mappings.
  [ -z "${copy_ns[$name]:-}" ] || { run=(ip netns exec "${copy_ns[$name]}"); mapping=(); }
  mkdir -p "$work/$name/share" "$work/$name/downloads"
  "${run[@]}" "$vandry" --headless --home "$work/$name/home" --nick "$name" --share "$work/$name/share" \
    --download "$work/$name/downloads" --feed "$feed" "${mapping[@]}" "$@" >> "$work/$name.log" 2>&1 &
  pids[$name]=$!
}
ctl() { local name=$1; shift; "$vandryctl" --home "$work/$name/home" "$@"; }
wait_for() { # seconds, then a command that must succeed
  local deadline=$((SECONDS + $1)); shift
  until "$@" 2>/dev/null; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.2; done
}
sees() { ctl "$1" neighbours | grep -q " $2\$"; }
# The task line of the file NAME in COPY's download folder: COPY NAME.
task_line() { ctl "$1" tasks | grep -F " $work/$1/downloads/$2 " || true; }
finished() { task_line "$1" "$2" | grep -q "结束传输"; }
progress() { task_line "$1" "$2" | awk '{print $3}' | tr -d '%'; }
started_past() { local p; p=$(progress "$1" "$2"); [[ "$p" =~ ^[0-9]+$ ]] && [ "$p" -ge "$3" ]; }
