#!/usr/bin/env bash
# The station running on this machine: the configuration service stand-in with
# a copy of the default configuration, vintor replaying the bundled recording
# (network replay, brand 4, fed in a loop by the replay peer), and the lines of
# the "heave" and "vintor" feeds printed by feed-listen as they arrive, until
# Ctrl-C or until COUNT lines have been printed. vintor's error lines are shown as they come.
# Everything it started is stopped on exit, and the shared-memory files and
# semaphores the run created on this host are removed; the logs stay in
# build/demo/.
#
#   bash scripts/demo.sh [COUNT]
#   CONFIG_PORT=6010 NOTICE_PORT=6011 bash scripts/demo.sh   # other service ports
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
count=${1:-0}
case "$count" in '' | *[!0-9]*) echo "usage: bash scripts/demo.sh [count]" >&2; exit 2 ;; esac
bash "$root/scripts/build.sh"

repport=${CONFIG_PORT:-5010}
pubport=${NOTICE_PORT:-5011}
recording=$root/data/recording.txt
logs=$build/demo
mkdir -p "$logs"
rm -f "$logs"/*.out "$logs"/*.err
work=$(mktemp -d)

# What vintor creates on the host: its shared-memory files and semaphores.
shared_files=(/tmp/sharedmem /tmp/sharedmemRadar0 /tmp/sharedmemRadar1 /tmp/sharedmemRadar2)
semaphore_keys=(444440 444441 444442 444443 444444 444445 444446 444447 444555)
semaphore_exists() { ipcs -s | awk '{print $1}' | grep -qix "$(printf '0x%08x' "$1")"; }
new_files=() new_semaphores=()
for f in "${shared_files[@]}"; do [ -e "$f" ] || new_files+=("$f"); done
for k in "${semaphore_keys[@]}"; do semaphore_exists "$k" || new_semaphores+=("$k"); done

service_pid="" vintor_pid="" peer_pid="" heave_pid="" line_pid="" errors_pid=""
# Once vintor has ended: lets the follower of its error lines pass on the last
# ones and end, a few seconds at most.
errors_passed() {
  [ -n "$errors_pid" ] || return 0
  for _ in $(seq 50); do kill -0 "$errors_pid" 2>/dev/null || break; sleep 0.1; done
  kill "$errors_pid" 2>/dev/null || true
  errors_pid=""
}
cleanup() {
  trap - EXIT INT TERM
  if [ -n "$vintor_pid" ]; then
    # vintor leads its own process group; SIGUSR1 ends every stage with it.
    kill -USR1 -- "-$vintor_pid" 2>/dev/null || true
    for _ in $(seq 20); do kill -0 "$vintor_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$vintor_pid" 2>/dev/null || true
  fi
  for p in $heave_pid $line_pid $peer_pid $service_pid; do kill "$p" 2>/dev/null || true; done
  errors_passed
  wait 2>/dev/null || true
  for f in "${new_files[@]}"; do rm -f "$f"; done
  for k in "${new_semaphores[@]}"; do ipcrm -S "$k" 2>/dev/null || true; done
  rm -rf "$work"
  echo "logs of this run: $logs" >&2
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A TCP or UDP port some program on this host listens on.
port_taken() { [ -n "$(ss -Hln "( sport = :$1 )" 2>/dev/null)" ]; }
need_port() {  # port, what it is for, how to choose another
  if port_taken "$1"; then
    echo "port $1 ($2) is in use on this host${3:+; $3}" >&2
    exit 1
  fi
}
need_port "$repport" "configuration requests" "choose another with CONFIG_PORT=<port>"
need_port "$pubport" "configuration notices" "choose another with NOTICE_PORT=<port>"

# A copy, so the run's "set" and a "write" request never change the shipped file.
cp "$root/config/station.json" "$work/station.json"
cp "$root/config/memory.json" "$work/memory.json"
"$build/tools/configservice/configservice" -c "$work/station.json" -m "$work/memory.json" \
  -r "$repport" -p "$pubport" >"$logs/service.out" 2>&1 &
service_pid=$!
for _ in $(seq 100); do
  grep -q "configservice ready" "$logs/service.out" 2>/dev/null && break
  kill -0 "$service_pid" 2>/dev/null || {
    echo "the configuration service did not start (CONFIG_PORT $repport, NOTICE_PORT $pubport):" >&2
    cat "$logs/service.out" >&2
    exit 1
  }
  sleep 0.1
done
grep -q "configservice ready" "$logs/service.out" || { echo "configuration service not ready" >&2; exit 1; }

ask() { "$build/tools/configservice/configservice-request" -e "tcp://127.0.0.1:$repport" "$1"; }
value() { sed -n "s/.*\"$1\":\"\([^\"]*\)\".*/\1/p"; }
# Every port is checked before the "set" below: its notice would end a vintor
# of this host that follows this service's notice port.
peerport=$(ask '{"get":{"radar":{"portnumber":""}}}' | value portnumber)
feedport() { ask "{\"get\":{\"vintor\":{\"publishers\":{\"$1\":\"\"}}}}" | value "$1"; }
for feed in fft peak h heave vintor reflection; do
  need_port "$(feedport "$feed")" "vintor's \"$feed\" feed"
done
need_port "$peerport" "the replay peer's connection to vintor"
module() { ask "{\"get\":{\"vintor\":{\"module\":{\"$1\":\"\"}}}}" | value "$1"; }
if [ "$(module udp)" != "0" ]; then
  need_port "$(ask '{"get":{"vintor":{"vintor":{"portnumber":""}}}}' | value portnumber)" "vintor's UDP commands"
fi
if [ "$(module telnet)" != "0" ]; then
  need_port "$(ask '{"get":{"vintor":{"vintor":{"telnetport":""}}}}' | value telnetport)" "vintor's status service"
fi
# radar0 replays through the network front-end at the recording's own pace
# (one sweep pair every 250 ms); the peer starts again at the end of the file.
ask '{"set":{"radar":{"brand":"readudp","scanspeed":"250"}}}' >/dev/null
mounting=$(ask '{"get":{"radar":{"mountingheight":""}}}' | value mountingheight)

(cd "$work" && exec "$build/src/vintor/vintor" "$repport" "$pubport") >"$logs/vintor.out" 2>"$logs/vintor.err" &
vintor_pid=$!
# Some lines come by design and are left in the log only: the housekeeping
# stage has no work, so it ends (and is started again) every second, and the
# folder of the watchdog files, /opt/kestrom/tmp, exists on a station, not
# here, so every touch of watchdogvintor (the supervisor's) and of
# watchdogtimesync (after each status connection) fails.
# The follower ends by itself once vintor has ended, after its last lines.
tail --pid="$vintor_pid" -s 0.2 -n +1 -F "$logs/vintor.err" 2>/dev/null |
  grep --line-buffered -v -e 'Error child Housekeeping class returned' \
    -e '^/bin/touch: .*/opt/kestrom/tmp/watchdog\(vintor\|timesync\)' |
  sed -u 's/^/vintor: /' >&2 &
errors_pid=$!
"$build/tools/replay-peer/replay-peer" -p "$peerport" -l -i 250 "$recording" >"$logs/peer.out" 2>&1 &
peer_pid=$!

echo "vintor replays $recording: a water surface 1000 cm below the antenna, waves of"
echo "+-20 cm every 8 s; mounted at $mounting cm, so heights swing around $((mounting - 1000)) cm."
echo "Ctrl-C stops the demo."
# feed-listen finds each feed's port in the configuration; one line per message.
# COUNT lines: half from each feed, which carry one line per sweep pair each.
heave_count=-1 line_count=-1
if [ "$count" -gt 0 ]; then heave_count=$(((count + 1) / 2)) line_count=$((count / 2)); fi
listen() { exec "$build/src/feed-listen/feed-listen" -q -t 0 -p "$repport" -m vintor -o "$1" -n "$2"; }
listen heave "$heave_count" &
heave_pid=$!
listen vintor "$line_count" &
line_pid=$!
# Wait for the listeners, but notice when vintor itself ends.
while kill -0 "$heave_pid" 2>/dev/null || kill -0 "$line_pid" 2>/dev/null; do
  if ! kill -0 "$vintor_pid" 2>/dev/null; then
    errors_passed
    echo "vintor ended; the end of its output:" >&2
    tail -20 "$logs/vintor.out" >&2
    exit 1
  fi
  sleep 0.2
done
wait "$heave_pid" "$line_pid" 2>/dev/null || true
