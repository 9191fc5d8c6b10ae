#!/usr/bin/env bash
# scripts/check-stage.sh on stages built here with the armhf cross compiler
# against a sysroot of stand-in packages: it passes a sound stage and prints
# the packages its libraries come from, and fails, naming the file, on one
# that is not for the station's processor, carries a run path or needs a
# library no armhf package gives. Skipped (77) without the cross compiler.
#   stage_check.sh CHECK_STAGE
set -euo pipefail
check=$1
cc=arm-linux-gnueabihf-gcc
command -v "$cc" >/dev/null || { echo "no $cc: skipped"; exit 77; }
cross=/usr/arm-linux-gnueabihf/lib
dpkg -S "$cross/libc.so.6" >/dev/null 2>&1 || { echo "the cross C library is no Debian package's: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root libs=$work/root/usr/lib/arm-linux-gnueabihf
mkdir -p "$libs" "$work/elsewhere"

# Stand-in packages: libstub1 holds libstub.so.1; libunowned.so.1 lies in the
# sysroot but no package lists it; libother.so.1 is outside it.
shared() {  # library path, soname
  echo "int $2(void) { return 0; }" | tr '.' '_' >"$work/lib.c"
  "$cc" -shared -fPIC -Wl,-soname,"$2" -o "$1" "$work/lib.c"
}
shared "$libs/libstub.so.1" libstub.so.1
shared "$libs/libunowned.so.1" libunowned.so.1
shared "$work/elsewhere/libother.so.1" libother.so.1
echo "libstub1 /usr/lib/arm-linux-gnueabihf/libstub.so.1" >"$root/.files"
program() {  # output, library, more linker options
  local sym
  sym=$(basename "$2" | tr '.' '_')
  printf 'int %s(void);\nint main(void) { return %s(); }\n' "$sym" "$sym" >"$work/main.c"
  "$cc" -o "$1" "$work/main.c" "$2" "${@:3}"
}

# name | what the stage holds | status | output (packages or error lines)
cases=(
  "sound|bin/prog=stub lib/libgood.so=good|0|libc6\nlibstub1"
  "host program|bin/prog=stub bin/true=host|1|check-stage: bin/true is not a 32-bit ARM hard-float ELF: *"
  "script|bin/run.sh=script|1|check-stage: bin/run.sh is not an ELF file"
  "library outside|bin/prog=other|1|check-stage: bin/prog needs libother.so.1, which no armhf package unpacked here holds"
  "library of no package|bin/prog=unowned|1|check-stage: bin/prog needs libunowned.so.1, found at $libs/libunowned.so.1, which comes from no Debian armhf package"
  "run path|bin/prog=rpath|1|check-stage: bin/prog carries a run path: $root/usr/lib/arm-linux-gnueabihf"
)
failures=0
for c in "${cases[@]}"; do
  IFS='|' read -r name files want_status want <<<"$c"
  want=$(printf '%b' "$want")
  stage=$work/stage
  rm -rf "$stage"
  mkdir -p "$stage/bin" "$stage/lib"
  for f in $files; do
    out=$stage/${f%%=*}
    case ${f#*=} in
      stub) program "$out" "$libs/libstub.so.1" ;;
      other) program "$out" "$work/elsewhere/libother.so.1" ;;
      unowned) program "$out" "$libs/libunowned.so.1" ;;
      rpath) program "$out" "$libs/libstub.so.1" -Wl,-rpath,"$libs" ;;
      good) echo "int good(void) { return 1; }" >"$work/good.c" && "$cc" -shared -fPIC -o "$out" "$work/good.c" ;;
      host) cp /bin/true "$out" ;;
      script) printf '#!/bin/sh\nexit 0\n' >"$out" ;;
    esac
  done
  status=0
  got=$(bash "$check" "$stage" "$root" "$cross" 2>&1) || status=$?
  # shellcheck disable=SC2053 # the wanted text may hold a pattern
  if [ "$status" != "$want_status" ] || [[ $got != $want ]]; then
    printf '%s: status %s (want %s)\n  got:  %s\n  want: %s\n' "$name" "$status" "$want_status" "$got" "$want" >&2
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "stage check ok"
