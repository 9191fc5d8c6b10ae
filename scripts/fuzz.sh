#!/usr/bin/env bash
# Builds every fuzz target with clang's libFuzzer (address and undefined-behaviour
# sanitizers on) and runs each for FUZZ_SECONDS (20) from a copy of its seed
# corpus, several at once. Fails on any finding; the reproducer is kept in
# $build/findings/.
#
#   bash scripts/fuzz.sh                 # all targets
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh fuzz_replay_line   # one, longer
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-20}
bash "$root/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DSTATION_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

mapfile -t lines < <(grep -v '^$' "$build/fuzz-targets.txt" || true)
targets=()
for l in "${lines[@]}"; do
  name=$(basename "${l%% *}")
  if [ $# -eq 0 ] || printf '%s\n' "$@" | grep -qx "$name"; then targets+=("$l"); fi
done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets"; exit 0; }
names=()
for l in "${targets[@]}"; do names+=("$(basename "${l%% *}")"); done
cmake --build "$build" -j "$(nproc)" --target "${names[@]}"

mkdir -p "$build/findings" "$build/fuzz-logs"
run_one() {
  local bin=$1 corpus=$2 seconds=$3 build=$4
  local name work
  name=$(basename "$bin")
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus/." "$work/"
  if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/findings/$name-" "$work" >"$build/fuzz-logs/$name.log" 2>&1; then
    echo "$name: $(grep -E '^stat::number_of_executed_units' "$build/fuzz-logs/$name.log" | awk '{print $2}') runs in ${seconds}s, corpus $(ls "$work" | wc -l), no findings"
    rm -rf "$work"
  else
    echo "$name: FINDING (log $build/fuzz-logs/$name.log)"
    tail -40 "$build/fuzz-logs/$name.log"
    rm -rf "$work"
    return 1
  fi
}
export -f run_one
printf '%s\n' "${targets[@]}" | xargs -P "$(nproc)" -I{} bash -c 'set -- {}; run_one "$1" "$2" '"$seconds"' '"$build"
