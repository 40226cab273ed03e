#!/usr/bin/env bash
# dpx20ctl.exe serve from the installed files under Wine (tests/windows/serve_test.py): HTTPS and
# WSS with each kind of key, the page in Chromium, and the Windows service under Wine's Service
# Control Manager against dpx20sim behind ser2net.
# $1: the Windows build folder (scripts/test-windows.sh), or a folder of installed files
# (scripts/package-windows.sh: those the setup program packs); the Linux build (dpx20sim) is build/.
set -euo pipefail
given=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."
root=$PWD
source scripts/windows-env.sh

linux=$root/build
[ -f "$linux/build.ninja" ] || cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDPX20_WERROR=ON
cmake --build "$linux" --target dpx20sim >/dev/null

# The files the setup program installs, as it installs them.
stage=$given
if [ -f "$given/CMakeCache.txt" ]; then
  stage=$root/build-windows/serve-stage
  rm -rf "$stage"
  cmake --install "$given" --prefix "$stage" >/dev/null
fi
new_wine_prefix "$root/build-windows/wine-serve"
# One wineserver for the whole run: when it ends, Wine's services end with it, and the next Wine
# command starts the automatic ones again.
wineserver -w
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
DPX20_BUILD_DIR=$linux /usr/bin/python3 tests/windows/serve_test.py "$stage"
echo "serve-windows: passed"
