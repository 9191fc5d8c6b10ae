#!/usr/bin/env bash
# Checks an install staged for the station's processor: every file in STAGE
# is a 32-bit ARM hard-float ELF without a run path, and every library it
# needs is one of Debian's armhf packages, unpacked into SYSROOT (whose .files
# lists "<package> <path>" for each file unpacked) or the cross toolchain's C
# library in CROSS_LIB (/usr/arm-linux-gnueabihf/lib), which dpkg knows as the
# <package>-armhf-cross of that package. Prints those packages, one per line:
# what the station needs installed to run the stage. Ends 1 naming every
# file that fails.
#   check-stage.sh STAGE SYSROOT [CROSS_LIB]
set -euo pipefail
stage=$1 sysroot=$2 cross=${3:-/usr/arm-linux-gnueabihf/lib}
[ -d "$stage" ] || { echo "check-stage: no stage at $stage" >&2; exit 1; }
lib_dirs=("$sysroot/usr/lib/arm-linux-gnueabihf" "$sysroot/lib/arm-linux-gnueabihf" "$cross")

# The package a library file comes from, or nothing.
owner() {
  local path=$1 pkg
  if [ "${path#"$sysroot"/}" != "$path" ]; then
    awk -v p="${path#"$sysroot"}" '$2 == p { print $1; exit }' "$sysroot/.files" 2>/dev/null
    return
  fi
  pkg=$(dpkg -S "$path" 2>/dev/null | head -n 1) || return 0
  pkg=${pkg%%:*}
  [ "${pkg%-armhf-cross}" = "$pkg" ] || echo "${pkg%-armhf-cross}"
}

faults=0
fault() {
  echo "check-stage: $1" >&2
  faults=$((faults + 1))
}
packages=()
# Package (or "" when none) of each library already looked up: the programs
# share most of theirs.
declare -A owner_of
while IFS= read -r -d '' file; do
  name=${file#"$stage"/}
  if ! header=$(readelf -h "$file" 2>/dev/null); then
    fault "$name is not an ELF file"
    continue
  fi
  grep -Eq 'Class: +ELF32$' <<<"$header" && grep -Eq 'Machine: +ARM$' <<<"$header" &&
    grep -q 'hard-float ABI' <<<"$header" ||
    { fault "$name is not a 32-bit ARM hard-float ELF: $(grep -E 'Class|Machine' <<<"$header" | tr -s ' ' | tr '\n' ' ')"; continue; }
  dynamic=$(readelf -d "$file")
  if grep -q '(RPATH)\|(RUNPATH)' <<<"$dynamic"; then
    fault "$name carries a run path: $(grep '(RPATH)\|(RUNPATH)' <<<"$dynamic" | sed 's/.*\[\(.*\)\]/\1/')"
  fi
  for lib in $(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic"); do
    found=""
    for d in "${lib_dirs[@]}"; do
      [ -e "$d/$lib" ] && { found=$d/$lib; break; }
    done
    if [ -z "$found" ]; then
      fault "$name needs $lib, which no armhf package unpacked here holds"
      continue
    fi
    [ -n "${owner_of[$lib]+known}" ] || owner_of[$lib]=$(owner "$found")
    if [ -z "${owner_of[$lib]}" ]; then
      fault "$name needs $lib, found at $found, which comes from no Debian armhf package"
      continue
    fi
    packages+=("${owner_of[$lib]}")
  done
done < <(find "$stage" ! -type d -print0 | sort -z)
[ "$faults" -eq 0 ] || exit 1
[ ${#packages[@]} -eq 0 ] || printf '%s\n' "${packages[@]}" | sort -u
