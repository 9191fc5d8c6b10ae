#!/usr/bin/env bash
# The station running on this machine: the configuration service stand-in with
# the default configuration, vintor replaying the bundled recording (network
# replay, brand 4, fed in a loop by the replay peer), and the lines of the
# "heave" and "vintor" feeds printed as they arrive, until Ctrl-C or until
# COUNT lines have been printed. Everything it started is stopped on exit.
#
#   bash scripts/demo.sh [COUNT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
count=${1:-0}
case "$count" in '' | *[!0-9]*) echo "usage: bash scripts/demo.sh [count]" >&2; exit 2 ;; esac
bash "$root/scripts/build.sh"

repport=${CONFIG_PORT:-5010}
pubport=${NOTICE_PORT:-5011}
recording=$root/data/recording.txt
work=$(mktemp -d)
service_pid="" vintor_pid="" peer_pid="" print_pid=""
cleanup() {
  trap - EXIT INT TERM
  if [ -n "$vintor_pid" ]; then
    # vintor leads its own process group; SIGUSR1 ends every stage with it.
    kill -USR1 -- "-$vintor_pid" 2>/dev/null || true
    for _ in $(seq 20); do kill -0 "$vintor_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$vintor_pid" 2>/dev/null || true
  fi
  for p in $print_pid $peer_pid $service_pid; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A copy, so a "write" request never changes the shipped file.
cp "$root/config/station.json" "$work/station.json"
cp "$root/config/memory.json" "$work/memory.json"
"$build/tools/configservice/configservice" -c "$work/station.json" -m "$work/memory.json" \
  -r "$repport" -p "$pubport" >"$work/service.out" 2>&1 &
service_pid=$!
for _ in $(seq 100); do
  grep -q "configservice ready" "$work/service.out" 2>/dev/null && break
  kill -0 "$service_pid" 2>/dev/null || { echo "configuration service did not start (port $repport or $pubport busy?)" >&2; exit 1; }
  sleep 0.1
done
grep -q "configservice ready" "$work/service.out" || { echo "configuration service not ready" >&2; exit 1; }

ask() { "$build/tools/configservice/configservice-request" -e "tcp://127.0.0.1:$repport" "$1"; }
value() { sed -n "s/.*\"$1\":\"\([^\"]*\)\".*/\1/p"; }
# radar0 replays through the network front-end at the recording's own pace
# (one sweep pair every 250 ms); the peer starts again at the end of the file.
ask '{"set":{"radar":{"brand":"readudp","scanspeed":"250"}}}' >/dev/null
peerport=$(ask '{"get":{"radar":{"portnumber":""}}}' | value portnumber)
heaveport=$(ask '{"get":{"vintor":{"publishers":{"heave":""}}}}' | value heave)
vintorport=$(ask '{"get":{"vintor":{"publishers":{"vintor":""}}}}' | value vintor)
mounting=$(ask '{"get":{"radar":{"mountingheight":""}}}' | value mountingheight)

(cd "$work" && exec "$build/src/vintor/vintor" "$repport" "$pubport") >"$work/vintor.out" 2>&1 &
vintor_pid=$!
"$build/tools/replay-peer/replay-peer" -p "$peerport" -l -i 250 "$recording" >"$work/peer.out" 2>&1 &
peer_pid=$!

echo "vintor replays $recording: a water surface 1000 cm below the antenna, waves of"
echo "+-20 cm every 8 s; mounted at $mounting cm, so heights swing around $((mounting - 1000)) cm."
echo "Ctrl-C stops the demo."
"$build/tools/feed-print/feed-print" -n "$count" heave="tcp://127.0.0.1:$heaveport" vintor="tcp://127.0.0.1:$vintorport" &
print_pid=$!
# Wait for the printer, but notice when vintor itself ends.
while kill -0 "$print_pid" 2>/dev/null; do
  if ! kill -0 "$vintor_pid" 2>/dev/null; then
    echo "vintor ended; its output:" >&2
    tail -20 "$work/vintor.out" >&2
    kill "$print_pid" 2>/dev/null || true
    exit 1
  fi
  sleep 0.2
done
wait "$print_pid" 2>/dev/null || true
