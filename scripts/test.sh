#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh" "$@"
cd "${BUILD_DIR:-$root/build}"
# CTEST_RETRY=N runs a failed test up to N times in all (CI: a test that starts
# whole programs can lose a race with the load of the other tests).
ctest --output-on-failure -j "$(nproc)" ${CTEST_RETRY:+--repeat until-pass:$CTEST_RETRY} ${CTEST_ARGS:-}
