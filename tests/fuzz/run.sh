#!/usr/bin/env bash
# Runs the fuzz targets of a -DCHRON_FUZZ=ON build, each for a bounded time, starting from its
# checked-in corpus (left as it is: new inputs go to a scratch directory). A crash, leak,
# sanitizer report, time-out or broken property fails the run; the input that caused it is
# kept as <build dir>/fuzz-findings/<target>-crash-... and the log as <build dir>/fuzz-<target>.log.
#   tests/fuzz/run.sh <build dir> [seconds per target, default 20] [target...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
seconds=${2:-20}
shift
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(datagram hive format keys nts_records nts_fields registry_adapters snmp_adapters)

symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
[ -x "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH=$symbolizer
export UBSAN_OPTIONS=print_stacktrace=1
findings=$build/fuzz-findings
mkdir -p "$findings"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=0
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target"
  log=$build/fuzz-$target.log
  if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$findings/$target-" "$scratch/$target" "$here/corpus/$target" >"$log" 2>&1; then
    echo "fuzz_$target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1)"
  else
    echo "fuzz_$target: FINDING (log $log, inputs in $findings)"
    tail -n 60 "$log"
    failed=1
  fi
done
exit "$failed"
