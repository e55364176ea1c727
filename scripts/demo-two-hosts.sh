#!/bin/sh
# Two test hosts on one test LAN, each in its own network namespace with its own hive and
# simulated clock (the machine's clock is never touched): a server host whose clock runs
# AHEAD seconds ahead and a client host that polls it. Shows both traces for SECONDS seconds,
# then stops both and removes the hosts.
#
#   sudo scripts/demo-two-hosts.sh [build directory]
#   AHEAD=30 SECONDS_SHOWN=10 POLL=5 sudo -E scripts/demo-two-hosts.sh build
#
# Needs root (network namespaces), iproute2 and python3.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-${CHRON_BIN_DIR:-$here/../build}}
if [ ! -d "$build" ]; then
  echo "demo: build directory $build not found (give it as the first argument)" >&2
  exit 2
fi
CHRON_BIN_DIR=$(cd "$build" && pwd)
export CHRON_BIN_DIR
exec python3 "$here/../tests/scenario/harness.py" demo \
  --ahead "${AHEAD:-30}" --seconds "${SECONDS_SHOWN:-10}" --poll "${POLL:-5}"
