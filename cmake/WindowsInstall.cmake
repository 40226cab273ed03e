# What the Windows setup program installs (cmake --install into a folder that
# scripts/package-windows.sh packs with NSIS): the programs, the Start-menu launcher, and every
# DLL they load, listed here and nowhere else.
if(NOT WIN32 OR DPX20_CORE_ONLY OR DPX20_FUZZ)
  return()
endif()

# The Qt modules and plugins the programs load. A module or plugin missing here shows when the
# installed panel is started in a fresh Wine prefix (scripts/package-windows.sh).
set(DPX_QT_MODULES Core Gui Widgets Network SerialPort WebSockets)
set(DPX_QT_PLUGINS platforms/qwindows styles/qwindowsvistastyle tls/qschannelbackend)
# The compiler's runtime, which the programs and Qt's DLLs link.
set(DPX_MINGW_RUNTIME libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)

enable_language(RC)
# The launcher starts the panel in the user's own data folder, as the Linux one does.
add_executable(dpx20remote-launch WIN32 packaging/windows/launch_win.cpp packaging/windows/dpx20remote.rc)
target_link_libraries(dpx20remote-launch PRIVATE shell32 ole32)
target_link_options(dpx20remote-launch PRIVATE -municode)  # wWinMain
target_sources(dpx20remote PRIVATE packaging/windows/dpx20remote.rc)

install(TARGETS dpx20remote dpx20ctl dpx20remote-launch RUNTIME DESTINATION .)
foreach(module ${DPX_QT_MODULES})
  install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
endforeach()
foreach(plugin ${DPX_QT_PLUGINS})
  get_filename_component(folder ${plugin} DIRECTORY)
  install(FILES ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/${plugin}.dll DESTINATION ${folder})
endforeach()
foreach(dll ${DPX_MINGW_RUNTIME})
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}")  # a native MinGW keeps them beside the compiler
    get_filename_component(path ${CMAKE_CXX_COMPILER} DIRECTORY)
    set(path ${path}/${dll})
  endif()
  install(FILES ${path} DESTINATION .)
endforeach()
install(FILES packaging/debian/copyright DESTINATION . RENAME copyright.txt)
