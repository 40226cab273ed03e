# Writes the list of files the setup program installs, as NSIS macros, from the staged install
# folder (what `cmake --install` and scripts/package-windows.sh put there, whatever that is):
#   cmake -DSTAGE=<staged folder> -DOUT=<build>/files.nsh -P install-list.cmake
# dpx20remote.nsi includes it: InstallFiles installs each file, RemoveFiles FOLDER deletes each
# of them from FOLDER and then the folders they were in that are left empty. The uninstaller
# removes exactly this list, so a user's file in the program folder, or the program folder
# given as one that already holds other things, loses nothing.
if(NOT STAGE OR NOT OUT)
  message(FATAL_ERROR "usage: cmake -DSTAGE=<staged folder> -DOUT=<files.nsh> -P install-list.cmake")
endif()
file(TO_CMAKE_PATH "${STAGE}" stage)
get_filename_component(stage "${stage}" ABSOLUTE)
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${stage}" "${stage}/*")
if(NOT files)
  message(FATAL_ERROR "install-list: no file in ${stage}")
endif()
list(SORT files)

set(install "")
set(remove "")
set(folders "")
set(current "-")
foreach(file ${files})
  if(file MATCHES "[\"$`]")
    message(FATAL_ERROR "install-list: a name NSIS would read otherwise: ${file}")
  endif()
  get_filename_component(folder "${file}" DIRECTORY)
  string(REPLACE "/" "\\" windows "${file}")
  string(REPLACE "/" "\\" windows_folder "${folder}")
  if(NOT folder STREQUAL current)
    set(current "${folder}")
    if(folder STREQUAL "")
      string(APPEND install "  SetOutPath \"$INSTDIR\"\n")
    else()
      string(APPEND install "  SetOutPath \"$INSTDIR\\${windows_folder}\"\n")
    endif()
  endif()
  string(APPEND install "  File \"\${STAGE}\\${windows}\"\n")
  string(APPEND remove "  Delete \"\${FOLDER}\\${windows}\"\n")
  # Each folder and the folders above it, beneath the program folder.
  while(NOT folder STREQUAL "")
    list(APPEND folders "${folder}")
    get_filename_component(folder "${folder}" DIRECTORY)
  endwhile()
endforeach()
list(REMOVE_DUPLICATES folders)
# The deepest first, so that each is empty when its turn comes.
list(SORT folders ORDER DESCENDING)
foreach(folder ${folders})
  string(REPLACE "/" "\\" windows_folder "${folder}")
  string(APPEND remove "  RMDir \"\${FOLDER}\\${windows_folder}\"\n")
endforeach()
list(LENGTH files count)

file(WRITE "${OUT}" "; Made by packaging/windows/install-list.cmake from the staged install folder: the ${count}
; files the setup installs, and the uninstaller removes.
!define INSTALLED_FILES ${count}
!macro InstallFiles
${install}  SetOutPath \"$INSTDIR\"
!macroend
!macro RemoveFiles FOLDER
${remove}!macroend
")
message(STATUS "install-list: ${count} files in ${OUT}")
