#!/usr/bin/env bash
# Builds Qt 6.4.2 for 64-bit Windows (MinGW-w64, posix threads, shared, Release) once and keeps
# it in a cache folder outside the checkout, keyed by the version and the build flags; later
# runs reuse it. Prints the folder to give in CMAKE_PREFIX_PATH as its last line.
#
# qtbase comes from Debian's source package (the same version as the host tools of Debian's Qt,
# which the cross build runs); Qt Serial Port, WebSockets and HTTP Server from Qt's source
# releases in ../shared/deps, each checked against its hash first. When the ready build
# ../shared/deps/qt-6.4.2-mingw64.tar.xz is there, made with these same flags, its hash is
# checked and it is unpacked as the cache instead of building for an hour.
#
#   --from-source   build even when the ready build is there
# DPX20_DEPS=dir    where the sources and the ready build are (default ../shared/deps)
# DPX20_CACHE=dir   cache root (default ~/.cache/dpx20remote); JOBS=n parallel jobs
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# ../shared/deps beside the checkout (a worktree one level further down finds it too).
deps=${DPX20_DEPS:-}
for d in "$root/../shared/deps" "$root/../../shared/deps"; do
  [ -z "$deps" ] && [ -d "$d" ] && deps=$(cd "$d" && pwd)
done
deps=${deps:-$root/../shared/deps}
from_source=0
[ "${1:-}" = --from-source ] && from_source=1

version=6.4.2
modules=(qtserialport qtwebsockets qthttpserver)
declare -A module_sha256=(
  [qtserialport]=682626d3ae07074df0f707dab880f1eab1c133a04d5bed688a3ec63af305ae89
  [qtwebsockets]=44118ad922318068cec5f08bb3277ad1f680755c54bb287ee29fd7574a64a8d7
  [qthttpserver]=139cee9098d28efce40b10431db0f9e8b2b56ca39c9b0c2ea5c7e421254fb55e
)
prebuilt=$deps/qt-$version-mingw64.tar.xz
prebuilt_sha256=7dc30a6c4d017528eb4ae9bd35d39578ad7680fd4ffa104394e5715f9d971cbe

# Only what the programs use; bundled third-party libraries so that nothing else is needed on
# Windows. OpenGL stays on: without it 6.4.2's qwindowswindow.cpp does not compile.
flags=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_accessibility=OFF
  -DFEATURE_tabletevent=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF -DFEATURE_openssl=OFF -DFEATURE_vulkan=OFF
  -DFEATURE_opengl=ON -DINPUT_opengl=desktop)
# The key of the ready build: the flags above, with which it was made.
prebuilt_key=f410970b
key=$(printf '%s\n' "$version" "${modules[@]}" "${flags[@]}" | sha256sum | cut -c1-8)

cache=${DPX20_CACHE:-$HOME/.cache/dpx20remote}
prefix=$cache/qt-$version-mingw64-$key
jobs=${JOBS:-$(nproc)}

if [ -f "$prefix/.complete" ] && [ $from_source = 0 ]; then
  echo "$prefix"
  exit 0
fi
bash scripts/install-deps.sh windows >&2
mkdir -p "$cache"
rm -rf "$prefix" "$prefix.tmp"

# Checks a file against its hash; stops the whole script on a mismatch.
check_sha256() {
  local actual
  actual=$(sha256sum "$1" | cut -d' ' -f1)
  if [ "$actual" != "$2" ]; then
    echo "build-qt-windows: $1 does not have the expected sha256" >&2
    echo "  expected $2" >&2
    echo "  found    $actual" >&2
    exit 1
  fi
}

if [ $from_source = 0 ] && [ "$key" = "$prebuilt_key" ] && [ -f "$prebuilt" ]; then
  echo "build-qt-windows: unpacking the ready build $prebuilt" >&2
  check_sha256 "$prebuilt" $prebuilt_sha256
  mkdir "$prefix.tmp"
  tar -xJf "$prebuilt" -C "$prefix.tmp" --strip-components=1
  touch "$prefix.tmp/.complete"
  mv "$prefix.tmp" "$prefix"
  echo "$prefix"
  exit 0
fi

work=$cache/build-$version-$key
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
start=$(date +%s)

echo "build-qt-windows: building Qt $version for Windows from source in $work" >&2
for m in "${modules[@]}"; do
  src=$deps/$m-everywhere-src-$version.tar.xz
  [ -f "$src" ] || { echo "build-qt-windows: $src is missing" >&2; exit 1; }
  check_sha256 "$src" "${module_sha256[$m]}"
done

# qtbase's source package needs a deb-src entry for Debian 12's main archive.
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
    'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
    $SUDO tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  $SUDO apt-get update >&2
fi
(cd "$work" && apt-get source qt6-base >&2)
qtbase=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
grep -q "QT_REPO_MODULE_VERSION \"$version\"" "$qtbase/.cmake.conf" || {
  echo "build-qt-windows: Debian's qt6-base is not Qt $version" >&2; exit 1; }

host=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
cmake -S "$qtbase" -B "$work/qtbase-build" -G Ninja -Wno-dev \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" "${host[@]}" \
  -DCMAKE_INSTALL_PREFIX="$prefix.tmp" "${flags[@]}" >&2
cmake --build "$work/qtbase-build" -j "$jobs" >&2
cmake --install "$work/qtbase-build" >&2

for m in "${modules[@]}"; do
  tar -xJf "$deps/$m-everywhere-src-$version.tar.xz" -C "$work"
  mkdir "$work/$m-build"
  (cd "$work/$m-build" &&
   "$prefix.tmp/bin/qt-configure-module" "$work/$m-everywhere-src-$version" -- -Wno-dev >&2 &&
   cmake --build . -j "$jobs" >&2 && cmake --install . >&2)
done

touch "$prefix.tmp/.complete"
mv "$prefix.tmp" "$prefix"
echo "build-qt-windows: Qt $version for Windows built in $(( ($(date +%s) - start) / 60 )) min" >&2
echo "$prefix"
