#!/usr/bin/env bash
# Applies the code style (.clang-format) to the C++ sources in place:
#   scripts/format.sh            every tracked .cpp and .h file
#   scripts/format.sh FILE...    only these
#   scripts/format.sh --check    changes nothing; lists the files that are not formatted
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
format=$(command -v clang-format-14 || command -v clang-format)
check=0
if [ "${1:-}" = "--check" ]; then
  check=1
  shift
fi
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
fi
if [ "$check" -eq 1 ]; then
  status=0
  for f in "${files[@]}"; do
    if ! "$format" --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then
      echo "$f"
      status=1
    fi
  done
  exit "$status"
fi
"$format" --style=file -i "${files[@]}"
