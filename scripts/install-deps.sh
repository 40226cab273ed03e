#!/usr/bin/env bash
# Installs everything the build, the tests and the run command need on Debian 12.
# `install-deps.sh windows` also installs what the Windows build needs: MinGW-w64, Wine, NSIS,
# and the tools that fetch and build Qt for Windows.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config ccache
      qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libqt6serialport6
      qt6-httpserver-dev qt6-websockets-dev
      libgl1-mesa-dev libxkbcommon-dev
      libgtest-dev libgmock-dev googletest
      clang libclang-rt-14-dev
      fonts-ipafont-gothic xvfb xauth x11-apps imagemagick socat
      ser2net curl openssl
      mosquitto mosquitto-clients libmosquitto-dev
      dpkg-dev file lintian desktop-file-utils appstream xdotool
      chromium chromium-driver python3-selenium
      nodejs)
if [ "${1:-}" = windows ]; then
  pkgs+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
         wine wine64 fonts-wine nsis xz-utils perl python3 xclip)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Debian's npm, unless a Node.js that brings its own is installed.
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
# The Ember+ tests' consumers and provider (node-emberplus), as pinned by the lock file.
npm ci --prefix "$(dirname "$0")/../tests/ember" --no-audit --no-fund --loglevel=error
