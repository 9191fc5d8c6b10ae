#!/usr/bin/env bash
# A second configure run of a fresh build folder must give every target the
# same compile and link settings as the first: otherwise every second build
# compiles everything again. (The rule that re-runs CMake lists other inputs
# the first time; that costs nothing.)
#   configure_is_stable.sh SOURCE_DIR [CMAKE_ARGUMENT...]
# The arguments are those the build under test was configured with.
set -euo pipefail
source_dir=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S "$source_dir" -B "$work" -G Ninja "$@" >/dev/null
settings() { grep -E '^  (FLAGS|INCLUDES|DEFINES|LINK_FLAGS|LINK_LIBRARIES) =' "$work/build.ninja"; }
settings >"$work/first"
cmake "$work" >/dev/null
settings | diff "$work/first" -
