#!/usr/bin/env bash
# Regenerates tests/golden/recording.expected: what the radar chain makes of
# data/recording.txt with config/station.json (tools/chain-replay). Run it after
# a deliberate change of the chain's output and review the diff it leaves.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
# A private namespace, so the stand-in has its fixed ports whatever runs here.
exec "$root/tests/ns-run" bash -c '
  set -euo pipefail
  root=$1 build=$2
  work=$(mktemp -d)
  cp "$root/config/station.json" "$work/station.json"
  "$build/tools/configservice/configservice" -c "$work/station.json" >"$work/service.out" 2>&1 &
  service=$!
  trap "kill $service 2>/dev/null || true; wait $service 2>/dev/null || true; rm -rf $work" EXIT
  for _ in $(seq 100); do grep -q "configservice ready" "$work/service.out" && break; sleep 0.1; done
  # The expected file is replaced only by a whole, successful run.
  "$build/tools/chain-replay/chain-replay" 5010 "$root/data/recording.txt" "$work/recording.expected" >/dev/null
  mv "$work/recording.expected" "$root/tests/golden/recording.expected"
  echo "wrote tests/golden/recording.expected"
' golden "$root" "$build"
