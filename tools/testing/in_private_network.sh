#!/usr/bin/env bash
# Runs a command in a network namespace of its own: loopback up and carrying the multicast groups,
# nothing else. The namespace ends with the command, so nothing outlives it.
# Usage: in_private_network.sh COMMAND [ARG...]
set -euo pipefail
exec unshare --net -- bash -c '
  ip link set lo up
  ip route add 224.0.0.0/4 dev lo
  exec "$@"' in_private_network "$@"
