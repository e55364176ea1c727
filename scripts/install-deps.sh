#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only those that are missing.
#   scripts/install-deps.sh            the Linux build and its tests
#   scripts/install-deps.sh windows    the Windows cross-build and its tests under 64-bit Wine
#                                      (never wine32: 32-bit programs cannot run here)
#   scripts/install-deps.sh windows-i686   the 32-bit Windows cross-compiler (compile only)
set -euo pipefail

windows_packages=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest nlohmann-json3-dev
  wine wine64 xvfb xdotool imagemagick wixl msitools
  cmake ninja-build python3 iproute2 util-linux
)

packages=(
  cmake ninja-build g++ pkg-config nlohmann-json3-dev libssl-dev nettle-dev
  googletest libgtest-dev libgmock-dev
  qt6-base-dev
  python3 iproute2 util-linux
  chrony ntpsec-ntpdig openssl
  clang-14 libclang-rt-14-dev libfuzzer-14-dev llvm-14
  clang-tidy-14 clang-format-14 lintian dpkg-dev
)

windows_i686_packages=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 nlohmann-json3-dev)

if [ "${1:-}" = "windows" ]; then
  packages=("${windows_packages[@]}")
elif [ "${1:-}" = "windows-i686" ]; then
  packages=("${windows_i686_packages[@]}")
fi

# One query for all of them: nothing else runs when every package is installed.
installed=" $(dpkg-query -W -f='${Package}:${db:Status-Abbrev} ' "${packages[@]}" 2>/dev/null || true)"
missing=()
for p in "${packages[@]}"; do
  [[ $installed == *" $p:ii "* ]] || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
# chrony's package starts its daemon where systemd runs; the tests start their own instances.
if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
  "${sudo_cmd[@]}" systemctl disable --now chrony >/dev/null 2>&1 || true
fi
