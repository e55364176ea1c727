#!/usr/bin/env bash
# The test suite, whole or by stage. Any failure, sanitizer report or fuzzing finding fails the run.
#   scripts/test.sh              the whole suite (what CI runs): every stage below, in this order
#   scripts/test.sh quick        build, unit, scenario (two at a time): the normal build and its
#                                tests but interop; about 3 minutes once the build is up to date
#   scripts/test.sh <stage>...   only these stages, in the order given:
#     lint      the include graph of the layers and the code style
#     build     the normal build, warnings are errors
#     tidy      clang-tidy over the normal build's sources
#     deb       its Debian package (cpack), checked by lintian
#     unit      unit and GUI tests of the normal build
#     scenario  scenario tests (root: network namespaces)
#     interop   interoperability tests with chronyd, ntpdig and ntpd (root)
#     asan      the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer
#     tsan      the engine's tests under ThreadSanitizer
#     fuzz      every fuzz target for 20 s from the checked-in corpus (clang, libFuzzer)
#     windows   the Windows stage: scripts/test-windows.sh
# The build directories are build, build-asan, build-tsan, build-fuzz and build-windows at the top
# of the sources; CHRON_BUILD=<dir> puts them at <dir>, <dir>-asan, ... instead. The stages of the
# normal build's tests build it first (nothing to do when it is up to date).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
build=${CHRON_BUILD:-$top/build}
all=(lint build tidy deb unit scenario interop asan tsan fuzz windows)

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=("${all[@]}")
scenario_jobs=1
if [ "${stages[*]}" = quick ]; then
  stages=(build unit scenario)
  scenario_jobs=$jobs
fi
for stage in "${stages[@]}"; do
  case " ${all[*]} " in
    *" $stage "*) ;;
    *) echo "scripts/test.sh: unknown stage '$stage' (quick, ${all[*]})" >&2; exit 2 ;;
  esac
done

built=0
normal_build() {
  [ "$built" -eq 0 ] || return 0
  echo "== build (normal, warnings are errors)"
  "$top/scripts/build.sh" "$build" -DCHRON_BUILD_APPLET=ON -DCHRON_WERROR=ON
  built=1
}

stage_lint() {
  echo "== include graph of the layers, code style"
  python3 "$top/scripts/check_includes.py"
  "$top/scripts/format.sh" --check
}
stage_build() { normal_build; }
stage_tidy() {
  normal_build
  echo "== clang-tidy"
  "$top/scripts/clang_tidy.sh" "$build"
}
stage_deb() {
  normal_build
  echo "== Debian package (cpack) and lintian"
  rm -f "$build"/chron_*.deb
  (cd "$build" && cpack -G DEB >/dev/null && lintian --fail-on error chron_*.deb)
}
stage_unit() {
  normal_build
  echo "== unit and GUI tests (normal build)"
  (cd "$build" && ctest --output-on-failure -j"$jobs" -LE 'scenario|interop')
}
stage_scenario() {
  normal_build
  echo "== scenario tests (normal build)"
  (cd "$build" && ctest --output-on-failure -j"$scenario_jobs" -L scenario)
}
stage_interop() {
  normal_build
  echo "== interoperability tests (normal build)"
  (cd "$build" && ctest --output-on-failure -L interop)
}
stage_asan() {
  echo "== unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
  TARGETS="unit_tests_platform unit_tests_core unit_tests_config unit_tests_messages unit_tests_engine unit_tests_service unit_tests_win95" \
    "$top/scripts/build.sh" "$build-asan" -DCHRON_BUILD_APPLET=OFF -DCHRON_SANITIZE=address,undefined
  (cd "$build-asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs" -L unit)
}
stage_tsan() {
  echo "== engine tests under ThreadSanitizer"
  TARGETS="unit_tests_engine" "$top/scripts/build.sh" "$build-tsan" -DCHRON_BUILD_APPLET=OFF -DCHRON_SANITIZE=thread
  (cd "$build-tsan" && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --output-on-failure -j"$jobs" -R '^unit\.engine\.')
}
stage_fuzz() {
  echo "== fuzz targets (libFuzzer with ASan and UBSan, clang): 20 s each from the checked-in corpus"
  TARGETS="fuzz_targets" "$top/scripts/build.sh" "$build-fuzz" -DCHRON_BUILD_APPLET=OFF -DBUILD_TESTING=OFF \
    -DCHRON_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14
  "$top/tests/fuzz/run.sh" "$build-fuzz" 20
}
stage_windows() { "$top/scripts/test-windows.sh" "$build-windows" "$build"; }

[ "${stages[*]}" = windows ] || "$top/scripts/install-deps.sh"
for stage in "${stages[@]}"; do
  "stage_$stage"
done
if [ "${stages[*]}" = "${all[*]}" ]; then
  echo "== all tests passed"
else
  echo "== passed: ${stages[*]}"
fi
