#!/usr/bin/env bash
# Builds the Debian package build/dpx20remote_<version>_amd64.deb from a Release build in
# build/package (installing what is missing first, unless DPX20_SKIP_DEPS=1).
# Install it with:  sudo apt install ./build/dpx20remote_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${DPX20_SKIP_DEPS:-0}" = 1 ] || bash scripts/install-deps.sh

build=build/package
# Debian's hardening flags (fortify, stack protector, relro, now, PIE) for the packaged programs,
# given on the command line so that they hold for an existing build directory too.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
# Only what is installed is built (not the tests): cpack then installs without building all.
# The optimisation is Debian's own (-O2 in its flags); CMake's Release -O3 would override it.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_CXX_FLAGS_RELEASE="-DNDEBUG" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build "$build" -j "$(nproc)" --target dpx_package_files
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
mv -f "$build"/dpx20remote_*.deb build/
ls -l build/dpx20remote_*.deb
