#!/bin/sh
# Lists the functions longer than LIMIT lines (80) and the files longer than
# 600 lines among the C and C++ sources of src/, lib/, include/ and tools/ of
# TREE (this checkout), longest first. Needs Universal Ctags.
#   scripts/function-sizes.sh [LIMIT] [TREE]
set -eu
limit=${1:-80}
cd "${2:-$(dirname "$0")/..}"
files=$(mktemp)
trap 'rm -f "$files"' EXIT
find src lib include tools -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) |
  sort >"$files"
ctags -f - --fields=+ne --kinds-c++=f --kinds-c=f -L "$files" |
  awk -F'\t' -v limit="$limit" '{
    start = ""; end = ""
    for (i = 4; i <= NF; i++) {
      if ($i ~ /^line:/) start = substr($i, 6)
      if ($i ~ /^end:/) end = substr($i, 5)
    }
    if (start != "" && end != "" && end - start + 1 > limit) printf "%5d %s:%s %s\n", end - start + 1, $2, start, $1
  }' | sort -rn
echo "files over 600 lines:"
xargs wc -l <"$files" | awk '$2 != "total" && $1 > 600'
