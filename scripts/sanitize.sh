#!/usr/bin/env bash
# The tests again, built with the address and undefined-behaviour sanitizers.
# Tests that load a JNI library into a JVM are left out (label "jvm").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=$root/build-sanitize
export CTEST_ARGS="-LE jvm"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
bash "$root/scripts/test.sh" -DSTATION_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
