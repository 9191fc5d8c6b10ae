#!/usr/bin/env bash
# Regenerates the bundled recording data/recording.txt (byte for byte: the
# generator's noise comes from a fixed seed).
# usage: make-recording.sh [path-to-replay-gen]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
gen=${1:-${BUILD_DIR:-$root/build}/tools/replay-gen/replay-gen}
"$gen" -d 1000 -a 20 -T 8 -n 300 -i 250 -t 1700000000000 -s 256 -A 2000 -N 30 -r 1 \
       -m replaygen -o "$root/data/recording.txt"
