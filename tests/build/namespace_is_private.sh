#!/usr/bin/env bash
# The namespace every whole-program test runs in: own loopback, empty /tmp and /opt/kestrom.
set -e
ip -o link show lo | grep -q UP
[ -d /opt/kestrom/tmp ]
[ -z "$(ls -A /tmp)" ]
touch /tmp/probe
echo "namespace ok"
