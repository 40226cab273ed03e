# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix thread model, which
# std::thread and std::mutex need). Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The same file builds Qt for Windows (scripts/build-qt-windows.sh). Programs use the compiler's
# runtime DLLs, as Qt's DLLs do: the setup program ships them, and scripts/test-windows.sh puts
# their folder on Wine's path.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DPX_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${DPX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DPX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${DPX_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DPX_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages built for Windows by the caller (Qt, GoogleTest) are found through CMAKE_PREFIX_PATH.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
