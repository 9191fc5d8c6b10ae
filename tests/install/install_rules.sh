#!/usr/bin/env bash
# `cmake --install` of this build into a temporary prefix, and again under a
# DESTDIR: the station's 22 programs in bin/, its 2 JNI libraries in the
# library directory and nothing else; no installed file carries a run path;
# an installed program runs from there.
#   install_rules.sh BUILD_DIR LIBDIR [LIBRARY_PATH]
# LIBRARY_PATH: where a cross build's installed programs find their libraries
# under emulation (its sysroot's).
set -euo pipefail
build=$1 libdir=$2 library_path=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

programs="board-serialtest button-handler climate-sensor clock-guard config-cli config-read
  drift-mean feed-bridge feed-listen gpio-expander heading-adjust heave-corrector heave-smoother
  imu-calibrate imu-reader morse-led motion-sentinel script-launcher tarnix-pic32 tilt-average
  unit-relay vintor"
expected() {
  for p in $programs; do echo "bin/$p"; done
  echo "$libdir/libqvpSerial.so"
  echo "$libdir/libwavestat.so"
}

check() {  # installed prefix, how it was installed
  local prefix=$1 how=$2 f out
  if ! diff <(expected | sort) <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) >"$work/diff"; then
    echo "$how: the installed set differs (< expected, > installed):" >&2
    cat "$work/diff" >&2
    return 1
  fi
  for f in $(expected); do
    if readelf -d "$prefix/$f" | grep -E '\((RPATH|RUNPATH)\)' >"$work/paths"; then
      echo "$how: $f carries a run path: $(cat "$work/paths")" >&2
      return 1
    fi
  done
  # The usage text: it needs the program's every library, none of the tree.
  out=$(LD_LIBRARY_PATH=$library_path "$prefix/bin/vintor" 2>&1) && {
    echo "$how: vintor without arguments ended with 0" >&2
    return 1
  }
  grep -q "Use: vintorMain <configport> <subscriptionport>" <<<"$out" || {
    echo "$how: vintor without arguments printed: $out" >&2
    return 1
  }
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
check "$work/prefix" "--prefix"
DESTDIR=$work/dest cmake --install "$build" --prefix /opt/station >/dev/null
check "$work/dest/opt/station" "DESTDIR"
if find "$work/dest" ! -type d | grep -v "^$work/dest/opt/station/"; then
  echo "DESTDIR: files installed outside the prefix" >&2
  exit 1
fi
echo "install rules ok"
