#!/usr/bin/env bash
# Runs a command in a network namespace of its own: loopback up and carrying the multicast groups,
# nothing else. The command also gets a process namespace of its own (with its /proc), under a
# shell that waits for it: when the command ends, or this script is killed (a test's time-out),
# every process it left behind ends with the namespace, so nothing outlives it.
# Usage: in_private_network.sh COMMAND [ARG...]
set -euo pipefail
exec unshare --net --pid --fork --kill-child --mount-proc -- bash -c '
  set -eu
  ip link set lo up
  ip route add 224.0.0.0/4 dev lo
  status=0
  "$@" || status=$?
  exit "$status"' in_private_network "$@"
