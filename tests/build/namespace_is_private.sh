#!/usr/bin/env bash
# The namespace every whole-program test runs in: own loopback, empty /tmp and /opt/kestrom.
set -e
ip -o link show lo | grep -q UP
[ -d /opt/kestrom/tmp ]
# Empty but for the source and build trees, which show through when they lie below /tmp.
src=$(cd "$(dirname "$0")/../.." && pwd)
for e in /tmp/* /tmp/.[!.]*; do
  [ -e "$e" ] || continue
  case "$src/" in "$e"/*) continue ;; esac
  case "$PWD/" in "$e"/*) continue ;; esac
  echo "unexpected $e in /tmp" >&2
  exit 1
done
touch /tmp/probe
echo "namespace ok"
