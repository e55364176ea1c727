#!/usr/bin/env bash
# The whole test suite: the include graph of the layers and the code style; the normal build with warnings as
# errors, clang-tidy over its sources and its Debian package checked by lintian; unit, GUI,
# scenario and interop tests on the normal build; the unit
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer; the engine's tests under
# ThreadSanitizer; every fuzz target for a bounded time. Any failure, sanitizer report or fuzzing
# finding fails the run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$top/scripts/install-deps.sh"

echo "== include graph of the layers, code style"
python3 "$top/scripts/check_includes.py"
"$top/scripts/format.sh" --check

echo "== build (normal, warnings are errors)"
"$top/scripts/build.sh" "$top/build" -DCHRON_BUILD_APPLET=ON -DCHRON_WERROR=ON
echo "== clang-tidy"
"$top/scripts/clang_tidy.sh" "$top/build"
echo "== Debian package (cpack) and lintian"
rm -f "$top"/build/chron_*.deb
(cd "$top/build" && cpack -G DEB >/dev/null && lintian --fail-on error chron_*.deb)
echo "== tests (normal build)"
(cd "$top/build" && ctest --output-on-failure -j"$jobs" -LE 'scenario|interop')
(cd "$top/build" && ctest --output-on-failure -L 'scenario|interop')

echo "== unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
TARGETS="unit_tests_platform unit_tests_config unit_tests_messages unit_tests_engine unit_tests_service unit_tests_win95" \
  "$top/scripts/build.sh" "$top/build-asan" -DCHRON_BUILD_APPLET=OFF -DCHRON_SANITIZE=address,undefined
(cd "$top/build-asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs" -L unit)

echo "== engine tests under ThreadSanitizer"
TARGETS="unit_tests_engine" "$top/scripts/build.sh" "$top/build-tsan" -DCHRON_BUILD_APPLET=OFF -DCHRON_SANITIZE=thread
(cd "$top/build-tsan" && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j"$jobs" -R '^unit\.engine\.')
echo "== fuzz targets (libFuzzer with ASan and UBSan, clang): 20 s each from the checked-in corpus"
TARGETS="fuzz_targets" "$top/scripts/build.sh" "$top/build-fuzz" -DCHRON_BUILD_APPLET=OFF -DBUILD_TESTING=OFF \
  -DCHRON_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14
"$top/tests/fuzz/run.sh" "$top/build-fuzz" 20

"$top/scripts/test-windows.sh"
echo "== all tests passed"
