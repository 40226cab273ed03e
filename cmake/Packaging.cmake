# Installation into the usual Linux places (cmake --install) and the Debian package (cpack -G DEB).
# scripts/package.sh builds the package; the target dpx_package_files builds everything installed.
if(DPX20_FUZZ OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

include(GNUInstallDirs)
set(dpx_pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(dpx_pkg_out ${PROJECT_BINARY_DIR}/packaging)

set(dpx_installed)
foreach(program dpx20remote dpx20sim dpx20ctl)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND dpx_installed ${program})
  endif()
endforeach()

# The menu entry starts the panel through the launcher, which gives it a per-user folder as
# its current directory; both name the installed paths.
configure_file(${dpx_pkg_src}/dpx20remote-launch.in ${dpx_pkg_out}/dpx20remote-launch @ONLY)
configure_file(${dpx_pkg_src}/dpx20remote.desktop.in ${dpx_pkg_out}/dpx20remote.desktop @ONLY)
install(PROGRAMS ${dpx_pkg_out}/dpx20remote-launch DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/dpx20remote)
install(FILES ${dpx_pkg_out}/dpx20remote.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${dpx_pkg_src}/org.dpx20remote.dpx20remote.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The PNGs are rendered from the SVG and committed:
#   for s in 16 32 48 64 128 256; do rsvg-convert -w $s -h $s dpx20remote.svg -o dpx20remote-$s.png; done
install(FILES ${dpx_pkg_src}/icons/dpx20remote.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${dpx_pkg_src}/icons/dpx20remote-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME dpx20remote.png)
endforeach()

# Manual pages and the changelog are installed compressed; gzip -n leaves out the name and
# time stamp, so the same sources give the same bytes.
file(GLOB dpx_man_pages CONFIGURE_DEPENDS ${dpx_pkg_src}/man/*.1)
set(dpx_gz_files)
foreach(src ${dpx_man_pages} ${dpx_pkg_src}/debian/changelog ${PROJECT_SOURCE_DIR}/docs/api.md)
  get_filename_component(name ${src} NAME)
  set(gz ${dpx_pkg_out}/${name}.gz)
  add_custom_command(OUTPUT ${gz}
                     COMMAND sh -c "gzip -n -9 -c \"$1\" > \"$2\"" sh ${src} ${gz}
                     DEPENDS ${src} VERBATIM)
  list(APPEND dpx_gz_files ${gz})
  if(name STREQUAL "changelog" OR name STREQUAL "api.md")
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  else()
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
install(FILES ${dpx_pkg_src}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# A service for a rack PC, installed and not enabled: systemctl enable --now dpx20ctl-serve@NAME
install(FILES ${dpx_pkg_src}/systemd/dpx20ctl-serve@.service DESTINATION lib/systemd/system)
add_custom_target(dpx_compressed_docs ALL DEPENDS ${dpx_gz_files})
add_custom_target(dpx_package_files DEPENDS ${dpx_installed} dpx_compressed_docs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dpx20remote)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "dpx20remote developers <dpx20remote@example.org>")
# The launcher and the menu entry name paths under the configured prefix, so the package uses
# the same one; scripts/package.sh configures /usr.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # dpx20remote_<version>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic")  # the panel's layout font
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://dpx20remote.example.org/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The first line is the synopsis; a line with only "." separates paragraphs.
set(dpx_deb_description
"remote control panel for the ZR-DPX20 2D-3D video converter
The ZR-DPX20 is a video box that converts 2D video into 3D and handles
stereo (left and right) SDI and HDMI signals. dpx20remote is its desktop
control panel: it connects to the box over an RS-232C line (a serial port
or a USB-to-serial adapter), switches 2D-3D conversion, tunes it, sets the
inputs, outputs, scope and functions, and keeps settings in memory files.
dpx20sim, a simulated box on a pseudo-terminal, lets the panel be tried
without the box.")
if(TARGET dpx20ctl)
  string(APPEND dpx_deb_description "
dpx20ctl, a command-line tool for scripts, drives the box without the panel.")
endif()
string(APPEND dpx_deb_description "
.
To open a serial port the user must be a member of the dialout group
(sudo usermod -aG dialout $USER, then log in again); the package does not
change any groups.")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${dpx_deb_description}")
include(CPack)
