# Sourced by the Windows scripts: where Qt for Windows and the compiler's runtime DLLs are, and
# how to make a Wine prefix. Needs `root` (the checkout) set.

# The Qt for Windows build and, in a folder beside it, Qt's OpenSSL TLS backend with OpenSSL,
# made or unpacked once (scripts/build-qt-windows.sh).
qt_folders=$(bash "$root/scripts/build-qt-windows.sh" | tail -n 2)
qt_windows=${qt_folders##*$'\n'}
qt_tls_windows=${qt_folders%%$'\n'*}
# The folders of the compiler's runtime DLLs (libstdc++, libgcc_s, libwinpthread).
mingw_runtime_dlls=()
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  mingw_runtime_dlls+=("$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")
done
# Wine's path for programs run from the build tree: Qt's DLLs, OpenSSL's and the runtime.
windows_dll_path() {
  local path="$qt_windows/bin;$qt_tls_windows/bin" dll
  for dll in "${mingw_runtime_dlls[@]}"; do path+=";$(dirname "$dll")"; done
  echo "$path"
}

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="  # no .NET or Gecko installer prompts

# Makes the Wine prefix $1 anew, with Wine's own fonts in it (Tahoma is what Windows message
# boxes use), and, if $2 is "offscreen", Qt's offscreen platform set in its environment for
# the tests. Wine passes no QT_* variable from Linux, so that goes into the registry; the
# offscreen platform's fonts are then the layout font's IPA fonts, and Qt's plugins are also
# looked for beside the OpenSSL TLS backend, which the tests then use as the installed programs do.
new_wine_prefix() {
  export WINEPREFIX=$1
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  # Output discarded and no standard input: Wine's background services would otherwise
  # inherit the caller's pipes and keep it from ending.
  wineboot --init >/dev/null 2>&1 </dev/null
  wineserver -w
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  # Japanese text in menus and message boxes: Windows links its UI font to a Japanese one
  # ("MS UI Gothic"); here that name stands for IPAPGothic.
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "MS UI Gothic" /d IPAPGothic /f \
    >/dev/null 2>&1 </dev/null
  if [ "${2:-}" = offscreen ]; then
    wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null 2>&1 </dev/null
    wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /f >/dev/null 2>&1 </dev/null \
      /d "Z:$(dirname "$(fc-match -f '%{file}' IPAPGothic)" | tr / '\\')"
    wine reg add 'HKCU\Environment' /v QT_PLUGIN_PATH /f >/dev/null 2>&1 </dev/null \
      /d "Z:$(echo "$qt_tls_windows/plugins" | tr / '\\')"
    wineserver -w
  fi
}

# GoogleTest for Windows, built once from Debian's sources with the same compiler; prints its
# folder for CMAKE_PREFIX_PATH.
windows_gtest() {
  local out=$root/build-windows/googletest
  if [ ! -f "$out/lib/libgtest.a" ]; then
    cmake -S /usr/src/googletest -B "$out-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_INSTALL_PREFIX="$out" >&2
    cmake --build "$out-build" -j "${JOBS:-$(nproc)}" >&2
    cmake --install "$out-build" >/dev/null
  fi
  echo "$out"
}

# Configures build folder $1 of the whole program for Windows with the given extra flags.
# Debian's Qt host tools (moc, rcc, uic) serve the cross build.
windows_configure() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_PREFIX_PATH="$(windows_gtest);$qt_windows" -DDPX20_WINDOWS_TLS="$qt_tls_windows" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake "$@"
}
