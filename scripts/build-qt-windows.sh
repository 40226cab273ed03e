#!/usr/bin/env bash
# Builds Qt 6.4.2 for 64-bit Windows (MinGW-w64, posix threads, shared, Release) once and keeps
# it in a cache folder outside the checkout, keyed by the version and the build flags; later
# runs reuse it. Beside it, in a folder of its own, Qt's OpenSSL TLS backend
# (plugins/tls/qopensslbackend.dll) with the OpenSSL it loads (bin/libssl-3-x64.dll,
# bin/libcrypto-3-x64.dll). Prints that folder, then, as its last line, Qt's folder to give in
# CMAKE_PREFIX_PATH.
#
# qtbase comes from Debian's source package (the same version as the host tools of Debian's Qt,
# which the cross build runs); Qt Serial Port, WebSockets and HTTP Server from Qt's source
# releases in ../shared/deps, each checked against its hash first. When the ready build
# ../shared/deps/qt-6.4.2-mingw64.tar.xz is there, made with these same flags, its hash is
# checked and it is unpacked as the cache instead of building for an hour. Likewise the OpenSSL
# backend: ../shared/deps/qt-tls-openssl-3.0.20-mingw64.tar.xz when its hash matches, else
# built from Debian's source packages of openssl and qtbase (about half an hour on two cores).
#
#   --from-source   build even when the ready builds are there
# DPX20_DEPS=dir    where the sources and the ready builds are (default ../shared/deps)
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
tls_version=3.0.20
tls_prebuilt=$deps/qt-tls-openssl-$tls_version-mingw64.tar.xz
tls_prebuilt_sha256=d095ed0619e4b2a0c4579dddb2ed6e2ba638f27845406f2100b742bb6dbc2995

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
# The plugin goes with the Qt of the same key; OpenSSL's version names the ready build.
tls=$cache/qt-tls-openssl-mingw64-$key
jobs=${JOBS:-$(nproc)}

if [ -f "$prefix/.complete" ] && [ -f "$tls/.complete" ] && [ $from_source = 0 ]; then
  echo "$tls"
  echo "$prefix"
  exit 0
fi
bash scripts/install-deps.sh windows >&2
mkdir -p "$cache"

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

work=$cache/build-$version-$key
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
start=$(date +%s)

# Fetches Debian's source package $1 into $work/src-$1 (adding a deb-src entry for Debian 12's
# main archive when there is none) and prints the folder it unpacked to.
debian_source() {
  if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
      $SUDO tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
    $SUDO apt-get update >&2
  fi
  mkdir -p "$work/src-$1"
  (cd "$work/src-$1" && apt-get source "$1" >&2)
  find "$work/src-$1" -mindepth 1 -maxdepth 1 -type d | head -n 1
}
# qtbase's sources, fetched once for both builds.
qtbase=
qtbase_source() {
  [ -n "$qtbase" ] && return 0
  qtbase=$(debian_source qt6-base)
  grep -q "QT_REPO_MODULE_VERSION \"$version\"" "$qtbase/.cmake.conf" || {
    echo "build-qt-windows: Debian's qt6-base is not Qt $version" >&2; exit 1; }
}
# OpenSSL's sources, configured for MinGW-w64 as the ready build was.
openssl_src=
openssl_source() {
  openssl_src=$(debian_source openssl)
  local v
  v=$(sed -n 's/^\(MAJOR\|MINOR\|PATCH\)=//p' "$openssl_src/VERSION.dat" | paste -sd.)
  [ "$v" = "$tls_version" ] ||
    echo "build-qt-windows: note: Debian's openssl is $v, the ready build's $tls_version" >&2
  (cd "$openssl_src" &&
   ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- CC=gcc-posix CXX=g++-posix \
     shared no-tests --prefix=/openssl-mingw64 --openssldir=/openssl-mingw64/ssl --libdir=lib >&2)
}
host=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)

if [ ! -f "$prefix/.complete" ] || [ $from_source = 1 ]; then
  rm -rf "$prefix" "$prefix.tmp"
  if [ $from_source = 0 ] && [ "$key" = "$prebuilt_key" ] && [ -f "$prebuilt" ]; then
    echo "build-qt-windows: unpacking the ready build $prebuilt" >&2
    check_sha256 "$prebuilt" $prebuilt_sha256
    mkdir "$prefix.tmp"
    tar -xJf "$prebuilt" -C "$prefix.tmp" --strip-components=1
  else
    echo "build-qt-windows: building Qt $version for Windows from source in $work" >&2
    for m in "${modules[@]}"; do
      src=$deps/$m-everywhere-src-$version.tar.xz
      [ -f "$src" ] || { echo "build-qt-windows: $src is missing" >&2; exit 1; }
      check_sha256 "$src" "${module_sha256[$m]}"
    done
    qtbase_source
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
  fi
  touch "$prefix.tmp/.complete"
  mv "$prefix.tmp" "$prefix"
fi

# Qt's OpenSSL TLS backend and the OpenSSL it loads at run time (nothing links OpenSSL).
if [ ! -f "$tls/.complete" ] || [ $from_source = 1 ]; then
  rm -rf "$tls" "$tls.tmp"
  mkdir "$tls.tmp"
  if [ $from_source = 0 ] && [ -f "$tls_prebuilt" ]; then
    echo "build-qt-windows: unpacking the ready OpenSSL TLS backend $tls_prebuilt" >&2
    check_sha256 "$tls_prebuilt" $tls_prebuilt_sha256
    tar -xJf "$tls_prebuilt" -C "$tls.tmp" --strip-components=1
    # OpenSSL's legacy provider, which the ready build lacks (PKCS#12 files made with openssl's
    # -legacy or by older tools use its RC2): built from Debian's source against the ready
    # build's libcrypto, which is not built again (seconds).
    openssl_source
    (cd "$openssl_src" && make build_generated >&2 && cp "$tls.tmp/lib/libcrypto.dll.a" . &&
     make -j "$jobs" -o libcrypto.dll.a providers/legacy.dll >&2)
    mkdir -p "$tls.tmp/lib/ossl-modules"
    cp "$openssl_src/providers/legacy.dll" "$tls.tmp/lib/ossl-modules/"
  else
    echo "build-qt-windows: building OpenSSL and Qt's OpenSSL TLS backend from source in $work" >&2
    openssl_source
    ssl=$work/openssl-stage/openssl-mingw64
    (cd "$openssl_src" && make -j "$jobs" >&2 && make install_sw DESTDIR="$work/openssl-stage" >&2)
    # qtbase configured as above, but with OpenSSL loaded at run time; only the plugin is built
    # (and the Core and Network it needs): it goes with the Qt above.
    qtbase_source
    cmake -S "$qtbase" -B "$work/tls-build" -G Ninja -Wno-dev \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" "${host[@]}" \
      -DCMAKE_INSTALL_PREFIX="$work/tls-unused" "${flags[@]}" \
      -DFEATURE_openssl=ON -DFEATURE_openssl_runtime=ON \
      -DOPENSSL_ROOT_DIR="$ssl" -DOPENSSL_INCLUDE_DIR="$ssl/include" \
      -DOPENSSL_CRYPTO_LIBRARY="$ssl/lib/libcrypto.dll.a" -DOPENSSL_SSL_LIBRARY="$ssl/lib/libssl.dll.a" \
      -DCMAKE_FIND_ROOT_PATH="/usr/x86_64-w64-mingw32;$ssl" >&2
    cmake --build "$work/tls-build" -j "$jobs" --target qopensslbackend >&2
    mkdir -p "$tls.tmp/plugins/tls" "$tls.tmp/bin" "$tls.tmp/lib" "$tls.tmp/include"
    cp "$work/tls-build/plugins/tls/qopensslbackend.dll" "$tls.tmp/plugins/tls/"
    cp "$ssl/bin/libssl-3-x64.dll" "$ssl/bin/libcrypto-3-x64.dll" "$tls.tmp/bin/"
    cp "$ssl/lib/libssl.dll.a" "$ssl/lib/libcrypto.dll.a" "$tls.tmp/lib/"
    cp -r "$ssl/lib/ossl-modules" "$tls.tmp/lib/"
    cp -r "$ssl/include/openssl" "$tls.tmp/include/"
    cp "$openssl_src/LICENSE.txt" "$tls.tmp/LICENSE-openssl.txt"
    x86_64-w64-mingw32-strip --strip-unneeded "$tls.tmp/plugins/tls/qopensslbackend.dll" \
      "$tls.tmp/bin/libssl-3-x64.dll" "$tls.tmp/bin/libcrypto-3-x64.dll"
  fi
  x86_64-w64-mingw32-strip --strip-unneeded "$tls.tmp/lib/ossl-modules/legacy.dll"
  touch "$tls.tmp/.complete"
  mv "$tls.tmp" "$tls"
fi

echo "build-qt-windows: Qt $version for Windows ready in $(( ($(date +%s) - start) / 60 )) min" >&2
echo "$tls"
echo "$prefix"
