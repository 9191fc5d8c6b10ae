#!/usr/bin/env bash
# The station's main job on its default set-up (grows as the radar chain lands).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
echo "station built in ${BUILD_DIR:-$root/build}"
