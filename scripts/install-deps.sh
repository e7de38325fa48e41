#!/usr/bin/env bash
# Installs the Debian packages Orvane needs to build, run and test, when any is missing.
# With "bench", also the servers the benchmark compares Orvane with (never needed by the
# tests: they would bring a Telnet daemon onto the machine). With "package", what building
# and checking the Debian package needs.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-multimedia-dev libxcb1-dev
  libssl-dev openssl
  libgtest-dev googletest
  dbus libglib2.0-bin
  xvfb xauth
  telnet-ssl python3
  clang libclang-rt-14-dev clang-format
  telnet  # the real client a script test drives
)
if [ "${1:-}" = bench ]; then
  packages+=(socat busybox-static inetutils-telnetd)
fi
if [ "${1:-}" = package ]; then
  packages+=(dpkg-dev lintian)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
