#!/usr/bin/env bash
# The station's main job on its default set-up (grows as the radar chain lands):
# for now it starts the configuration service stand-in with the shipped
# configuration, shows what it serves, and stops it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"

repport=${CONFIG_PORT:-5010}
pubport=${NOTICE_PORT:-5011}
work=$(mktemp -d)
service_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A copy, so a "write" request never changes the shipped file.
cp "$root/config/station.json" "$work/station.json"
cp "$root/config/memory.json" "$work/memory.json"
"$build/tools/configservice/configservice" -c "$work/station.json" -m "$work/memory.json" \
  -r "$repport" -p "$pubport" >"$work/service.out" &
service_pid=$!
for _ in $(seq 100); do
  grep -q "configservice ready" "$work/service.out" 2>/dev/null && break
  kill -0 "$service_pid" 2>/dev/null || { echo "configuration service did not start (port $repport or $pubport busy?)" >&2; exit 1; }
  sleep 0.1
done
grep -q "configservice ready" "$work/service.out" || { echo "configuration service not ready" >&2; exit 1; }
echo "configuration service stand-in ready on ports $repport (requests) and $pubport (notices)"

ask() {
  echo "request: $1"
  echo -n "reply:   "
  "$build/tools/configservice/configservice-request" -e "tcp://127.0.0.1:$repport" "$1"
}
ask '{"get":{"vintor":{"module":""},"radar":{"brand":"","filename":"","mountingheight":""}}}'
ask '{ "get":{"tarnix-pic32":{"publishers":{"rawdata-pub":""}}}}'
ask '{"get":""}'
echo "stopping the configuration service stand-in"
