#!/bin/sh
# Usage: exports.sh <shared library> <symbol>...
# Passes when the library defines exactly the given dynamic symbols.
lib=$1
shift
want=$(printf '%s\n' "$@" | sort)
have=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
if [ "$have" != "$want" ]; then
    echo "exported: $have"
    echo "expected: $want"
    exit 1
fi
