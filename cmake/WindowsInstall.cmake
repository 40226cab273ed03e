# What the Windows setup program installs (cmake --install into a folder that
# scripts/package-windows.sh packs with NSIS): the programs, the Start-menu launcher, and every
# DLL they load, listed here and nowhere else; the programs' version information; the PATH
# helper and the names and version the setup program is made with (setup.nsh).
if(NOT WIN32 OR DPX20_CORE_ONLY OR DPX20_FUZZ)
  return()
endif()

# The Qt modules and plugins the programs load. A module or plugin missing here shows when the
# installed panel is started in a fresh Wine prefix (scripts/package-windows.sh).
set(DPX_QT_MODULES Core Gui Widgets Network SerialPort WebSockets)
set(DPX_QT_PLUGINS platforms/qwindows styles/qwindowsvistastyle tls/qschannelbackend)
# Qt's OpenSSL TLS backend and the OpenSSL it loads, from the folder scripts/build-qt-windows.sh
# makes (plugins/tls/ and bin/): the programs prefer it to Schannel (http/TlsBackend.cpp). Without
# it the setup ships Schannel's alone.
set(DPX20_WINDOWS_TLS "" CACHE PATH "Qt's OpenSSL TLS backend and OpenSSL's DLLs for the setup program")
set(DPX_OPENSSL_DLLS libssl-3-x64.dll libcrypto-3-x64.dll)
# The compiler's runtime, which the programs and Qt's DLLs link.
set(DPX_MINGW_RUNTIME libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)

# The names Explorer, Settings' Apps list and the setup program show.
set(DPX_PRODUCT "DPX20 Remote")
set(DPX_COMPANY "dpx20remote developers")
set(DPX_COPYRIGHT "Copyright 2026 dpx20remote developers")
# project()'s version with four numbers, as Windows' version information has it.
set(DPX_FILE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0)
if(NOT PROJECT_VERSION_PATCH STREQUAL "")
  set(DPX_FILE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
endif()
if(NOT PROJECT_VERSION_TWEAK STREQUAL "")
  set(DPX_FILE_VERSION ${PROJECT_VERSION})
endif()

enable_language(RC)

# Version information and the application manifest for program `target`, with its description.
function(dpx_version_resource target description)
  string(REPLACE "." "," DPX_RC_VERSION ${DPX_FILE_VERSION})
  set(DPX_RC_NAME ${target})
  set(DPX_RC_DESCRIPTION "${description}")
  set(rc ${PROJECT_BINARY_DIR}/version/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # The application manifest it embeds.
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/windows/dpx20remote.manifest)
endfunction()

# The launcher starts the panel in the user's own data folder, as the Linux one does.
add_executable(dpx20remote-launch WIN32 packaging/windows/launch_win.cpp packaging/windows/dpx20remote.rc)
target_link_libraries(dpx20remote-launch PRIVATE shell32 ole32)
target_link_options(dpx20remote-launch PRIVATE -municode)  # wWinMain
target_sources(dpx20remote PRIVATE packaging/windows/dpx20remote.rc)

# The setup program and the uninstaller carry this to edit the user's PATH; it is not installed.
# Linked statically and stripped: it runs from their temporary folder, beside no DLL.
add_executable(dpx20remote-path packaging/windows/path_win.cpp)
target_link_libraries(dpx20remote-path PRIVATE dpx_path_list)
target_link_options(dpx20remote-path PRIVATE -municode -static -s)  # wmain
set_target_properties(dpx20remote-path PROPERTIES AUTOMOC OFF)

dpx_version_resource(dpx20remote "DPX20 Remote control panel")
dpx_version_resource(dpx20ctl "DPX20 Remote command-line control")
dpx_version_resource(dpx20remote-launch "DPX20 Remote launcher")
dpx_version_resource(dpx20remote-path "DPX20 Remote setup: PATH helper")

# What packaging/windows/dpx20remote.nsi is made with: the names and version above and the
# PATH helper.
configure_file(packaging/windows/setup.nsh.in ${PROJECT_BINARY_DIR}/setup.nsh.in @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/setup.nsh INPUT ${PROJECT_BINARY_DIR}/setup.nsh.in)

install(TARGETS dpx20remote dpx20ctl dpx20remote-launch RUNTIME DESTINATION .)
# The DLLs come with their debugging information; cmake --install --strip takes it out, as it
# does for the programs (libstdc++ goes from 23.7 MB to 2 MB).
set(dpx_dlls)
foreach(module ${DPX_QT_MODULES})
  install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
  list(APPEND dpx_dlls $<TARGET_FILE_NAME:Qt6::${module}>)
endforeach()
foreach(plugin ${DPX_QT_PLUGINS})
  get_filename_component(folder ${plugin} DIRECTORY)
  install(FILES ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/${plugin}.dll DESTINATION ${folder})
  list(APPEND dpx_dlls ${plugin}.dll)
endforeach()
if(DPX20_WINDOWS_TLS)
  install(FILES ${DPX20_WINDOWS_TLS}/plugins/tls/qopensslbackend.dll DESTINATION tls)
  list(APPEND dpx_dlls tls/qopensslbackend.dll)
  foreach(dll ${DPX_OPENSSL_DLLS})
    install(FILES ${DPX20_WINDOWS_TLS}/bin/${dll} DESTINATION .)
    list(APPEND dpx_dlls ${dll})
  endforeach()
  # OpenSSL's legacy provider, for PKCS#12 files encrypted with RC2 (http/TlsBackend.cpp).
  install(FILES ${DPX20_WINDOWS_TLS}/lib/ossl-modules/legacy.dll DESTINATION ossl-modules)
  list(APPEND dpx_dlls ossl-modules/legacy.dll)
  install(FILES ${DPX20_WINDOWS_TLS}/LICENSE-openssl.txt DESTINATION .)
else()
  message(STATUS "No DPX20_WINDOWS_TLS: the setup program serves HTTPS through Schannel alone")
endif()
foreach(dll ${DPX_MINGW_RUNTIME})
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}")  # a native MinGW keeps them beside the compiler
    get_filename_component(path ${CMAKE_CXX_COMPILER} DIRECTORY)
    set(path ${path}/${dll})
  endif()
  install(FILES ${path} DESTINATION .)
  list(APPEND dpx_dlls ${dll})
endforeach()
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(dll ${dpx_dlls})
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${dll}\"
                      RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR \"cannot strip \${dll}\")
      endif()
    endforeach()
  endif()")
install(FILES packaging/debian/copyright DESTINATION . RENAME copyright.txt)
