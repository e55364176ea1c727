#!/usr/bin/env bash
# clang-tidy (the checks in .clang-tidy) over the sources of the layers, not the tests, with the
# compile commands of a configured build directory; fails on any finding.
#   scripts/clang_tidy.sh <build dir>
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
if [ ! -f "$build/compile_commands.json" ]; then
  echo "no $build/compile_commands.json: configure that build first" >&2
  exit 2
fi
run=$(command -v run-clang-tidy-14 || command -v run-clang-tidy)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"$run" -p "$build" -j "$(nproc)" -quiet "$top/(platform|config|messages|engine|service|win95|chronstat|applet)/" >"$log" 2>&1 ||
  status=$?
# run-clang-tidy prints each file's command line and counts; show only the findings.
grep -v -e '^clang-tidy' -e 'warnings\? generated\.$' -e '^Suppressed [0-9]* warnings' -e '^Use -header-filter=' \
  -e '^Enabled checks:' -e '^Running clang-tidy' -e '^ *$' "$log" || true
if [ "$status" -eq 0 ]; then echo "clang-tidy: clean"; fi
exit "$status"
