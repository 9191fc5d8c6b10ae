#!/usr/bin/env bash
# scripts/demo.sh beside another vintor of this host, run from a copy of the
# tree whose build step is a stand-in (the build at hand serves it):
# - the other on ports of its own: the demo's vintor finds /tmp/sharedmem in
#   use, and the demo shows vintor's line and ends with 1, 8 runs of 8, every
#   other run with a follower of vintor's output that passes each line a
#   second late (as tail does where it cannot watch the file and looks again
#   once a second);
# - the other on the demo's ports, its own configuration service gone: the
#   demo refuses the taken feed port before any "set" of its service could
#   reach that vintor as a notice, and ends with 1.
# The other vintor runs on after every run.
#   beside_a_vintor.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
work=$(mktemp -d)
services=() vintors=()
cleanup() {
  for p in "${vintors[@]}"; do kill -USR1 -- "-$p" 2>/dev/null || true; done
  for p in "${services[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$*" >&2; exit 1; }
waitfor() {  # seconds, command...
  local n=$(($1 * 10))
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  "$@"
}

mkdir -p "$work/tree/scripts" "$work/build"
cp "$src/scripts/demo.sh" "$work/tree/scripts/"
printf '#!/usr/bin/env bash\n' >"$work/tree/scripts/build.sh"
ln -s "$src/config" "$src/data" "$work/tree/"
ln -s "$build/src" "$build/tools" "$work/build/"
# The follower of vintor's output, passing each line a second late.
mkdir "$work/slow"
cat >"$work/slow/tail" <<EOF
#!/bin/sh
case "\$*" in *--pid=*) ;; *) exec $(command -v tail) "\$@" ;; esac
$(command -v tail) "\$@" | while IFS= read -r line; do sleep 1; printf '%s\\n' "\$line"; done
EOF
chmod +x "$work/slow/tail"

service() {  # request port, notice port
  "$build/tools/configservice/configservice" -c "$work/other.json" -m "$src/config/memory.json" \
    -r "$1" -p "$2" >"$work/service-$1.out" 2>&1 &
  services+=($!)
  waitfor 10 grep -q "configservice ready" "$work/service-$1.out"
}
other_vintor() {  # request port, notice port, the port of its "fft" feed
  (cd "$src" && exec "$build/src/vintor/vintor" "$1" "$2") >"$work/vintor-$1.out" 2>&1 &
  vintors+=($!)
  waitfor 30 sh -c 'ss -Hln "( sport = :$1 )" 2>/dev/null | grep -q .' sh "$3" || fail "the other vintor did not start"
}
demo() {  # expected status, expected line, PATH
  local status=0
  PATH=${3:-$PATH} BUILD_DIR=$work/build timeout 60 bash "$work/tree/scripts/demo.sh" 2 >"$work/demo.out" 2>&1 ||
    status=$?
  [ "$status" = "$1" ] && grep -qxF -- "$2" "$work/demo.out" ||
    fail "demo ended with $status (want $1) without the line '$2':$(printf '\n'; cat "$work/demo.out")"
  kill -0 "${vintors[-1]}" 2>/dev/null || fail "the other vintor ended: $(cat "$work/vintor-"*.out)"
}

# Every port of the other vintor is its own.
cp "$src/config/station.json" "$work/other.json"
service 6010 6011
"$build/tools/configservice/configservice-request" -e tcp://127.0.0.1:6010 '{"set":{"vintor":{"vintor":{"portnumber":"6001","telnetport":"6002"},
  "publishers":{"fft":"6030","peak":"6031","h":"6032","heave":"6033","vintor":"6034","reflection":"6035"}},
  "radar":{"portnumber":"6020"}}}' >/dev/null
other_vintor 6010 6011 6030
for run in $(seq 8); do
  path=$PATH
  [ $((run % 2)) -eq 0 ] || path=$work/slow:$PATH
  demo 1 "vintor: ERROR: vintor is already running: /tmp/sharedmem is in use" "$path"
  grep -q "ERROR: vintor is already running: /tmp/sharedmem is in use" "$work/build/demo/vintor.err" ||
    fail "run $run: no error line in build/demo/vintor.err"
done
[ -e /tmp/sharedmem ] || fail "the demo removed the other vintor's /tmp/sharedmem"
kill -USR1 -- "-${vintors[-1]}"
wait "${vintors[-1]}" || true

# The other vintor on the demo's ports, following the notices of whatever
# service comes up on 5011.
cp "$src/config/station.json" "$work/other.json"
service 5010 5011
other_vintor 5010 5011 5030
kill "${services[-1]}"
wait "${services[-1]}" || true
demo 1 "port 5030 (vintor's \"fft\" feed) is in use on this host"
sleep 1
kill -0 "${vintors[-1]}" 2>/dev/null || fail "a notice of the demo's service ended the other vintor"
echo "demo beside a vintor ok"
