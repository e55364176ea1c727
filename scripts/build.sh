#!/usr/bin/env bash
# Configures and builds one build directory:
#   scripts/build.sh <dir> [cmake options...]            everything
#   TARGETS="a b" scripts/build.sh <dir> [cmake options...]   only these targets
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
shift
# CMake's progress is shown only when configuring fails, beside its errors (on standard error).
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$log"; then
  cat "$log" >&2
  echo "scripts/build.sh: configuring $dir failed" >&2
  exit 1
fi
if [ -n "${TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$dir" -j"$(nproc)" --target $TARGETS
else
  cmake --build "$dir" -j"$(nproc)"
fi
