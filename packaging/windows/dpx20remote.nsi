; The Windows setup program, made by scripts/package-windows.sh:
;   makensis -DSETUP=<build>/setup.nsh -DSTAGE=<installed files> -DOUTFILE=<setup.exe> dpx20remote.nsi
; setup.nsh (made by cmake/WindowsInstall.cmake) gives the version from project(), the names
; and the PATH helper.
; A per-user install: the programs go to %LOCALAPPDATA%\Programs\dpx20remote, which needs no
; administrator; the Start-menu shortcut runs the panel in %LOCALAPPDATA%\dpx20remote, where it
; keeps its options and memory files (made on first start by the launcher).
!include "${SETUP}"
; A 64-bit setup program for the 64-bit programs where NSIS has the 64-bit stubs (Debian's
; does; it also runs where Wine has no 32-bit part); NSIS's own Windows build has only 32-bit
; ones, which 64-bit Windows runs as well.
!if /FileExists "${NSISDIR}\Stubs\lzma_solid-amd64-unicode"
  Target amd64-unicode
!else
  Unicode true
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define APP dpx20remote
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
; The setup's own key; Software\dpx20remote\dpx20remote holds the operator's COM device choices.
!define SETUP_KEY "Software\${APP}\Setup"
InstallDirRegKey HKCU "${SETUP_KEY}" "InstallDir"
Icon "dpx20remote.ico"
UninstallIcon "dpx20remote.ico"

; The setup program's own version information.
VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!include "FileFunc.nsh"

; Runs the PATH helper (packaging/windows/path_win.cpp) with `add` or `remove` and the folder;
; its report goes to the details list. A failure is told and the rest goes on.
!macro EditPath command folder
  InitPluginsDir
  File "/oname=$PLUGINSDIR\dpx20remote-path.exe" "${PATH_TOOL}"
  nsExec::ExecToLog '"$PLUGINSDIR\dpx20remote-path.exe" ${command} "${folder}"'
  Pop $0
  StrCmp $0 0 +2
    MessageBox MB_OK|MB_ICONEXCLAMATION "Your PATH could not be changed (${command} ${folder}): $0" /SD IDOK
!macroend

Section "Install"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\DPX20 Remote"
  CreateShortCut "$SMPROGRAMS\DPX20 Remote\DPX20 Remote.lnk" "$INSTDIR\dpx20remote-launch.exe" "" "$INSTDIR\dpx20remote.exe" 0
  CreateShortCut "$SMPROGRAMS\DPX20 Remote\Uninstall DPX20 Remote.lnk" "$INSTDIR\uninstall.exe"

  ; dpx20ctl from any console: the program folder on the user's PATH.
  !insertmacro EditPath add "$INSTDIR"

  WriteRegStr HKCU "${SETUP_KEY}" "InstallDir" "$INSTDIR"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\dpx20remote.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0  ; in KiB
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The user's options and memory files in %LOCALAPPDATA%\dpx20remote and the COM device choices
; stay.
Section "Uninstall"
  Delete "$SMPROGRAMS\DPX20 Remote\DPX20 Remote.lnk"
  Delete "$SMPROGRAMS\DPX20 Remote\Uninstall DPX20 Remote.lnk"
  RMDir "$SMPROGRAMS\DPX20 Remote"
  RMDir /r "$INSTDIR"

  ; The PATH entry is the folder the setup put there, also when the uninstaller is started under
  ; another name of the same folder (Wine's Z:\ for a Unix path, say).
  ReadRegStr $1 HKCU "${SETUP_KEY}" "InstallDir"
  StrCmp $1 "" 0 +2
    StrCpy $1 "$INSTDIR"
  !insertmacro EditPath remove "$1"

  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${SETUP_KEY}"
  DeleteRegKey /ifempty HKCU "Software\${APP}"
SectionEnd
