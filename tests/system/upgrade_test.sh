#!/usr/bin/env bash
# A real self-upgrade on loopback. vandry-server serves a signed newer release (the built
# executable with bytes appended, so that the replaced file is recognisably the served one) and
# a feed that offers it with the automatic flag; a copy installed in a scratch folder (with a
# blank in its path) downloads it, checks it, hands over and is replaced. Then releases that are
# tampered with, signed with another key, truncated, older or unsigned: each is refused, nothing
# is replaced and nothing downloaded runs. The copies trust a throw-away key through their profile.
# Usage: upgrade_test.sh VANDRY VANDRYCTL VANDRY_SERVER VANDRY_SIGN
set -euo pipefail
vandry=$1 vandryctl=$2 server=$3 sign=$4
source "$(dirname "$0")/copies.sh"
# Copies started by a hand-over are not this shell's children: they are found by their executable.
end_copies_from_work() {
  local proc
  for proc in /proc/[0-9]*; do
    case "$(readlink "$proc/exe" 2>/dev/null)" in "$work"/*) kill -9 "${proc#/proc/}" 2>/dev/null || true ;; esac
  done
}
trap 'end_copies_from_work; cleanup' EXIT

"$sign" keygen "$work/key" > /dev/null
"$sign" keygen "$work/other-key" > /dev/null
files="$work/files"
mkdir -p "$files"
# NAME VERSION KEY: a release made from the built executable, signed.
release() {
  cp "$vandry" "$files/$1"
  printf 'upgrade test release %s\n' "$1" >> "$files/$1"
  "$sign" sign "$work/$3/release-key.pem" "$2" "$files/$1" > /dev/null
}
release good 0.9.0.1 key
release tampered 0.9.0.1 key
printf 'X' | dd of="$files/tampered" bs=1 seek=$(($(stat -c %s "$files/tampered") - 3)) conv=notrunc 2> /dev/null
release wrong-key 0.9.0.1 other-key
release truncated 0.9.0.1 key
truncate -s -4096 "$files/truncated"
release older 0.8.0.0 key
release unsigned 0.9.0.1 key
rm "$files/unsigned.sig"

start_server "$server" "$work/files-server.log" 127.0.0.1 --files "$files" || fail "the file server did not start"
pids[files]=$server_pid
downloads="${feed%/feed}"

# Processes whose executable is exactly $1.
running_from() {
  local proc
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/exe" 2>/dev/null)" = "$1" ] && echo "${proc#/proc/}"
  done
  return 0
}
# Gone, or a zombie its parent (this shell) has not collected yet.
ended() { [ ! -e "/proc/$1" ] || [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = Z ]; }
alive() { ! ended "$1"; }
nothing_runs_from_state() { [ -z "$(ls "$work/$1/home/state"/UpFile* 2>/dev/null | while read -r f; do running_from "$f"; done)" ]; }

# NAME: a copy installed in its own folder, trusting the test key, asking a feed that offers the
# release NAME with the automatic flag.
start_installed_copy() {
  local name=$1 home="$work/$1/home"
  mkdir -p "$work/$name/install dir" "$home" "$work/$name/share" "$work/$name/downloads"
  cp "$vandry" "$work/$name/install dir/vandry"
  printf '[Settings]\nUpgradeKeys=%s\n' "$(cat "$work/key/release-key.pub")" > "$home/settings.ini"
  start_server "$server" "$work/$name-feed.log" 127.0.0.1 --ver 0.9.0.1 --upfile "$downloads/$name" \
    --force-upgrade || fail "the feed of $name did not start"
  pids[$name-feed]=$server_pid
  "$work/$name/install dir/vandry" --headless --home "$home" --nick "$name" --share "$work/$name/share" \
    --download "$work/$name/downloads" --feed "$feed" --fallback-feed "$feed" --port-mapping off >> "$work/$name.log" 2>&1 &
  pids[$name]=$!
}

# The good release: downloaded, verified, handed over, installed, running.
start_installed_copy good
installed="$work/good/install dir/vandry"
wait_for 30 grep -q "download of $files/good by" "$work/files-server.log" || fail "the release was not downloaded"
checks_before=$(grep -c "feed request from" "$work/good-feed.log")
wait_for 30 cmp -s "$installed" "$files/good" || fail "the executable was not replaced by the served file"
wait_for 20 ended "${pids[good]}" || fail "the old copy is still running"
wait_for 20 test -n "$(running_from "$installed")" || fail "no process runs from the replaced executable"
wait_for 20 ctl good status > /dev/null || fail "the new copy does not answer in its home"
wait_for 20 nothing_runs_from_state good || fail "the downloaded file still runs after the hand-over"
[ "$(stat -c %a "$installed")" = 755 ] || fail "the replaced executable lost its mode bits"
ls -a "$work/good/install dir" | grep -q upgrade- && fail "a temporary file was left beside the executable"
grep -q "Upgrade verified" "$work/good.log" || fail "the log does not name the upgrade"
echo "the signed release replaced the executable byte for byte; the old copy ended and the new one runs"
# The feed still offers the release, whose built-in version is older than offered: the new copy
# knows it is that release and does not fetch it again.
more_checks() { [ "$(grep -c "feed request from" "$work/good-feed.log")" -gt "$checks_before" ]; }
wait_for 30 more_checks || fail "the new copy did not ask the feed"
sleep 2
[ "$(grep -c "download of $files/good by" "$work/files-server.log")" = 1 ] || fail "the new copy upgraded itself again"
echo "the new copy asked the feed again and did not take the same release a second time"
ctl good quit > /dev/null || true

# An older copy that does not end by itself is ended on the sixth tick of the hand-over. (Its feed
# offers a release that does not exist, which it refuses and keeps running.)
start_installed_copy stubborn
wait_for 30 grep -q "Upgrade refused" "$work/stubborn/home/state/EVT.TXT" || fail "stubborn: no refusal"
kill "${pids[stubborn-feed]}"
"$files/good" --headless --home "$work/stubborn/home" --feed "$feed" --port-mapping off --older-process "${pids[stubborn]}" \
  -u "$work/stubborn/install dir/vandry" >> "$work/stubborn.log" 2>&1 &
pids[stubborn-hand-over]=$!
wait_for 15 ended "${pids[stubborn]}" || fail "stubborn: the older copy was not ended"
grep -q "did not end by itself; it was ended" "$work/stubborn.log" || fail "stubborn: no word of ending it"
wait_for 15 cmp -s "$work/stubborn/install dir/vandry" "$files/good" || fail "stubborn: not replaced"
wait_for 20 ctl stubborn status > /dev/null || fail "stubborn: the new copy does not answer"
echo "an older copy that kept running was ended after six ticks, then replaced"
ctl stubborn quit > /dev/null || true

# NAME LOG_TEXT: the release NAME is refused with LOG_TEXT; nothing changes.
refused() {
  local name=$1 text=$2
  start_installed_copy "$name"
  wait_for 30 grep -q "Upgrade refused: $text" "$work/$name/home/state/EVT.TXT" ||
    fail "$name: no refusal \"$text\" in the event log"
  cmp -s "$work/$name/install dir/vandry" "$vandry" || fail "$name: the executable was changed"
  alive "${pids[$name]}" || fail "$name: the copy stopped"
  [ -z "$(ls "$work/$name/home/state"/UpFile* 2>/dev/null)" ] || fail "$name: the refused download was kept"
  nothing_runs_from_state "$name" || fail "$name: a downloaded file runs"
  grep -q "waiting for the older copy" "$work/$name.log" && fail "$name: a hand-over started"
  ctl "$name" status > /dev/null || fail "$name: the copy does not answer"
  echo "$name: refused ($text), nothing replaced or run"
  ctl "$name" quit > /dev/null || true
  kill "${pids[$name-feed]}"
}
refused tampered "the downloaded file does not match its signature"
refused wrong-key "the release is signed by a key this copy does not trust"
refused truncated "the download is incomplete"
refused older "the signed version is not newer than this one"
refused unsigned "the release has no signature"
