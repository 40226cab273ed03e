#!/usr/bin/env bash
# Builds the Windows setup program build-windows/dpx20remote-<version>-setup.exe with NSIS
# from a Release build for Windows (the programs stripped, their DLLs too), then checks it under
# Wine in a fresh prefix as a user and an administrator meet it (tests/windows/setup_check.sh):
# silent install into a long PATH, dpx20ctl from a console, the panel started from its
# Start-menu shortcut writing its options file in %LOCALAPPDATA%\dpx20remote, the uninstall
# entry, silent uninstall leaving no program file behind and the PATH as it was; then
# (tests/windows/setup_folders.sh) that the setup and its uninstaller touch only their own files,
# upgrade or move an install without orphaning it, stop for a running program, and install for
# all users.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-windows
bash scripts/install-deps.sh windows
source scripts/windows-env.sh

# -O2, as the tests are built: GCC 12 gives a false array-bounds warning at -O3 in <vector>.
# The programs alone, as a native build that only packs them would make them.
windows_configure "$build/package" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DDPX20_WERROR=ON -DDPX20_TESTS=OFF
cmake --build "$build/package" -j "${JOBS:-$(nproc)}" --target dpx20remote dpx20ctl dpx20remote-launch dpx20remote-path
stage=$build/package/stage
rm -rf "$stage"
cmake --install "$build/package" --prefix "$stage" --strip >/dev/null
echo "installed files: $(du -sb "$stage" | cut -f1) bytes"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/package/CMakeCache.txt")
setup=$build/dpx20remote-$version-setup.exe
# The files the setup installs and its uninstaller removes: whatever is staged, listed.
cmake -DSTAGE="$stage" -DOUT="$build/package/files.nsh" -P packaging/windows/install-list.cmake
makensis -V2 -DSETUP="$build/package/setup.nsh" -DFILES="$build/package/files.nsh" -DSTAGE="$stage" \
  -DOUTFILE="$setup" packaging/windows/dpx20remote.nsi
ls -l "$setup"

new_wine_prefix "$build/wine-setup"
xvfb-run -a -s "-screen 0 1024x768x24" bash tests/windows/setup_check.sh "$setup" "$version"
# Only its own files removed, upgrades and a second folder, a running program, /ALLUSERS,
# --version/--help and the manifests, in the same prefix.
xvfb-run -a -s "-screen 0 1024x768x24" bash tests/windows/setup_folders.sh "$setup" "$version"
wineserver -k || true

# The packed files themselves (stripped): HTTPS with each kind of key and the Windows service
# (tests/windows/serve.sh).
bash tests/windows/serve.sh "$stage"
echo "package-windows: $setup passed"
