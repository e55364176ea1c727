#!/usr/bin/env bash
# The Windows stage: cross-builds the programs and unit tests with mingw-w64 (x86_64) and the
# programs alone for i686 (compile only), runs the unit tests under 64-bit Wine, the applet's
# tests on an Xvfb display and the scenario tests of the Windows programs on test hosts of
# network namespaces (root needed). One Wine prefix is prepared per run and copied per host.
#   scripts/test-windows.sh [<Windows build dir> [<Linux build dir>]]
# The Linux build's chronsvc (built there if missing) is the peer of the interoperability tests.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build-windows}
linux_dir=${2:-$top/build}
"$top/scripts/install-deps.sh" windows

echo "== Windows build (mingw-w64, x86_64)"
# Without debug information (-g), which costs a fifth of the CPU time of the whole build (measured:
# 6.0 against 4.7 CPU minutes with -O2 alone).
"$top/scripts/build.sh" "$dir" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCHRON_LINUX_BIN_DIR="$linux_dir"
cmake --build "$dir" --target windows-package >/dev/null
echo "== Imports against the oldest Windows claimed (Windows 7)"
python3 "$top/scripts/check_pe_imports.py" "$dir"/sntp-windows/*.exe "$dir"/sntp-windows/*.cpl

# The 32-bit programs compile (they cannot run here): about 50 s on an idle machine, plus the
# toolchain's installation on a fresh one. CHRON_WINDOWS_I686=0 leaves it out.
if [ "${CHRON_WINDOWS_I686:-1}" = "1" ]; then
  echo "== Windows build (mingw-w64, i686; compile only)"
  "$top/scripts/install-deps.sh" windows-i686
  TARGETS="chronsvc chron95 chronstop chronstat chroncfg" "$top/scripts/build.sh" "$dir-i686" \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake" -DBUILD_TESTING=OFF
  python3 "$top/scripts/check_pe_imports.py" "$dir-i686"/service/chronsvc.exe "$dir-i686"/win95/*.exe \
    "$dir-i686"/applet/chroncfg.cpl
fi

# The prepared prefix stays as wineboot left it: the unit and applet tests run in a copy, and
# each test host of the scenario tests gets a copy of its own.
export CHRON_WINE_PREFIX="$dir/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -e "$CHRON_WINE_PREFIX/.chron-prepared" ]; then
  rm -rf "$CHRON_WINE_PREFIX"
  WINEPREFIX="$CHRON_WINE_PREFIX" /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
  WINEPREFIX="$CHRON_WINE_PREFIX" wineserver -w
  touch "$CHRON_WINE_PREFIX/.chron-prepared"
fi
export WINEPREFIX="$dir/wine-unit"
rm -rf "$WINEPREFIX"
cp -a "$CHRON_WINE_PREFIX" "$WINEPREFIX"
echo "== Windows unit tests under Wine"
# One wineserver for the whole unit stage instead of one per test program.
wineserver -p 30
# Start the prefix's system processes (services.exe and its helpers) here, with no pipe of
# ctest's: started by the first test instead, they would inherit its output pipe and ctest would
# wait for them until the test's time-out.
/usr/lib/wine/wine64 cmd.exe /c exit </dev/null >/dev/null 2>&1
(cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 300 -L unit)
wineserver -k || true
wineserver -w

echo "== Windows applet tests under Wine (Xvfb)"
# An X display of the stage's own: the first free one, which Xvfb names on descriptor 3.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$display_file")"
rm -f "$display_file"
wineserver -p 30
/usr/lib/wine/wine64 cmd.exe /c exit </dev/null >/dev/null 2>&1  # as above, on the display
gui_status=0
(cd "$dir" && ctest --output-on-failure -L windows-gui) || gui_status=$?
wineserver -k || true
wineserver -w
kill "$xvfb" && wait "$xvfb" 2>/dev/null || true
unset DISPLAY
[ "$gui_status" -eq 0 ] || exit "$gui_status"

echo "== Windows scenario tests under Wine"
[ -x "$linux_dir/service/chronsvc" ] || TARGETS=chronsvc "$top/scripts/build.sh" "$linux_dir" -DCHRON_BUILD_APPLET=OFF
# Three at a time: the tests mostly wait (for Wine to start, for clocks to follow, for time-outs).
(cd "$dir" && ctest --output-on-failure -j3 -L windows-scenario)
