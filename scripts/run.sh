#!/usr/bin/env bash
# Builds chronsvc and runs it in the foreground with its full trace (stop it with Ctrl+C).
# It reads the machine hive ($CHRON_HIVE or /etc/chron/registry.reg); to try it without
# changing this machine's clock, set CHRON_SIMULATED_CLOCK to a file of your own.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
TARGETS=chronsvc "$top/scripts/build.sh" "$top/build"
exec "$top/build/service/chronsvc" -debug "$@"
