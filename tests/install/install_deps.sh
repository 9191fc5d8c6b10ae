#!/usr/bin/env bash
# scripts/install-deps.sh with stand-ins for apt-get, dpkg-query and sudo first
# on PATH: a failed index update does not stop the install, and only an
# install that fails ends the script non-zero, naming what is still missing.
#   install_deps.sh SCRIPT
set -euo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
mkdir "$bin"
# Not installed: the packages listed in $STANDIN/missing.
cat >"$bin/dpkg-query" <<'STANDIN'
#!/usr/bin/env bash
grep -qx -- "${!#}" "$STANDIN/missing" || printf 'install ok installed'
STANDIN
# Each call is logged. "update" ends with $UPDATE_STATUS; "install" installs
# the packages named in $INSTALLS (all it is asked for when unset), then ends
# with $INSTALL_STATUS.
cat >"$bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "$*" >>"$STANDIN/calls"
verb="" asked=()
for a; do
  case $a in
    update | install) verb=$a ;;
    -*) ;;
    *) [ "$verb" = install ] && asked+=("$a") ;;
  esac
done
[ "$verb" = update ] && exit "$UPDATE_STATUS"
for p in ${INSTALLS-${asked[*]}}; do sed -i "/^$p\$/d" "$STANDIN/missing"; done
exit "$INSTALL_STATUS"
STANDIN
printf '#!/bin/sh\nexec "$@"\n' >"$bin/sudo"
chmod +x "$bin"/*

failures=0
# missing | update status | install status | installed by the install ("-": all asked) |
# script status | apt-get calls | install asked for | error lines
cases=(
  "|0|0|-|0|0||"
  "ninja-build memcached|100|0|-|0|2|ninja-build memcached|apt-get update failed (status 100): installing from the package lists at hand"
  "ninja-build memcached|0|100|ninja-build|1|2|ninja-build memcached|apt-get install failed (status 100); not installed: memcached"
  "cmake|100|100||1|2|cmake|apt-get update failed (status 100): installing from the package lists at hand\napt-get install failed (status 100); not installed: cmake"
)
for c in "${cases[@]}"; do
  IFS='|' read -r missing update install installs want_status want_calls want_asked want_errors <<<"$c"
  want_errors=$(printf '%b' "$want_errors")
  : >"$work/calls"
  tr ' ' '\n' <<<"$missing" | sed '/^$/d' >"$work/missing"
  env_installs=()
  [ "$installs" = "-" ] || env_installs=(INSTALLS="$installs")
  status=0
  env PATH="$bin:$PATH" STANDIN="$work" UPDATE_STATUS="$update" INSTALL_STATUS="$install" "${env_installs[@]}" \
    bash "$script" >"$work/out" 2>"$work/err" || status=$?
  calls=$(wc -l <"$work/calls")
  asked=$(sed -n 's/.* install -y -q --no-install-recommends //p' "$work/calls")
  errors=$(cat "$work/err")
  if [ "$status" != "$want_status" ] || [ "$calls" != "$want_calls" ] || [ "$asked" != "$want_asked" ] ||
     [ "$errors" != "$want_errors" ]; then
    echo "missing '$missing', update $update, install $install:" >&2
    echo "  status $status (want $want_status), $calls apt-get calls (want $want_calls)," >&2
    echo "  install asked for '$asked' (want '$want_asked')" >&2
    echo "  error lines: $errors" >&2
    echo "  want: $want_errors" >&2
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "install-deps ok"
