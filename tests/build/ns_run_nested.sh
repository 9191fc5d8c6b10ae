#!/usr/bin/env bash
# tests/ns-run called inside the namespace of another (a whole test run
# started in one) makes a namespace of its own and leaves the outer one as it
# was: the outer's /tmp, /opt and pseudo-terminals stay in place.
#   ns_run_nested.sh NS_RUN
set -euo pipefail
ns_run=$1
ns() { for n in net ipc mnt pid; do readlink "/proc/$1/ns/$n"; done; }
echo outer >/tmp/outer-probe
touch /opt/kestrom/tmp/outer-probe
pts=$(stat -c %d /dev/pts)
outer=$(ns self)
# The inner command: its namespaces, then whether it sees the outer's files.
inner=$("$ns_run" sh -c 'for n in net ipc mnt pid; do readlink /proc/self/ns/$n; done
  ls /tmp /opt/kestrom/tmp; echo "marker=${NS_RUN_INSIDE:-}"; touch /tmp/inner-probe')
status=0
for n in $outer; do
  if grep -qxF "$n" <<<"$inner"; then echo "the inner command runs in the outer's $n" >&2; status=1; fi
done
if grep -q outer-probe <<<"$inner"; then echo "the inner command sees the outer's files: $inner" >&2; status=1; fi
grep -qx "marker=1" <<<"$inner" || { echo "the inner command is not told it runs inside ns-run: $inner" >&2; status=1; }
[ "$(cat /tmp/outer-probe 2>/dev/null)" = outer ] && [ -e /opt/kestrom/tmp/outer-probe ] ||
  { echo "the outer's /tmp or /opt was covered" >&2; status=1; }
[ ! -e /tmp/inner-probe ] || { echo "the inner's /tmp is the outer's" >&2; status=1; }
[ "$(stat -c %d /dev/pts)" = "$pts" ] || { echo "the outer's /dev/pts was covered" >&2; status=1; }
[ "$status" -ne 0 ] || echo "nested ns-run ok"
exit "$status"
