; The Windows setup program, made by scripts/package-windows.sh:
;   makensis -DVERSION=<version> -DSTAGE=<installed files> -DOUTFILE=<setup.exe> dpx20remote.nsi
; A per-user install: the programs go to %LOCALAPPDATA%\Programs\dpx20remote, which needs no
; administrator; the Start-menu shortcut runs the panel in %LOCALAPPDATA%\dpx20remote, where it
; keeps its options and memory files (made on first start by the launcher).
; A 64-bit setup program for the 64-bit programs (it also runs where Wine has no 32-bit part).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define APP dpx20remote
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
Name "DPX20 Remote ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
; The setup's own key; Software\dpx20remote\dpx20remote holds the operator's COM device choices.
!define SETUP_KEY "Software\${APP}\Setup"
InstallDirRegKey HKCU "${SETUP_KEY}" "InstallDir"
Icon "dpx20remote.ico"
UninstallIcon "dpx20remote.ico"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!include "WinMessages.nsh"

Section "Install"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\DPX20 Remote"
  CreateShortCut "$SMPROGRAMS\DPX20 Remote\DPX20 Remote.lnk" "$INSTDIR\dpx20remote-launch.exe" "" "$INSTDIR\dpx20remote.exe" 0
  CreateShortCut "$SMPROGRAMS\DPX20 Remote\Uninstall DPX20 Remote.lnk" "$INSTDIR\uninstall.exe"

  ; dpx20ctl from any console: the program folder on the user's PATH.
  ReadRegStr $0 HKCU "Environment" "Path"
  StrCmp $0 "" 0 +3
    WriteRegExpandStr HKCU "Environment" "Path" "$INSTDIR"
    Goto path_done
  Push "$0"
  Push "$INSTDIR"
  Call PathHas
  Pop $1
  StrCmp $1 1 path_done
    WriteRegExpandStr HKCU "Environment" "Path" "$0;$INSTDIR"
  path_done:
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=500

  WriteRegStr HKCU "${SETUP_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "DPX20 Remote"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\dpx20remote.exe"
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

  ReadRegStr $0 HKCU "Environment" "Path"
  Push "$0"
  Push ";$INSTDIR"
  Call un.RemoveFromPath
  Pop $0
  Push "$0"
  Push "$INSTDIR"
  Call un.RemoveFromPath
  Pop $0
  WriteRegExpandStr HKCU "Environment" "Path" "$0"
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=500

  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${SETUP_KEY}"
  DeleteRegKey /ifempty HKCU "Software\${APP}"
SectionEnd

; Pushes 1 if the ;-separated list (second from top) holds the entry (top), else 0.
Function PathHas
  Exch $1  ; entry
  Exch
  Exch $0  ; list
  Push $2
  Push $3
  Push $4
  StrCpy $0 ";$0;"
  StrCpy $1 ";$1;"
  StrLen $3 $1
  StrCpy $4 0
  loop:
    StrCpy $2 $0 $3 $4
    StrCmp $2 "" no
    StrCmp $2 $1 yes
    IntOp $4 $4 + 1
    Goto loop
  yes:
    StrCpy $0 1
    Goto done
  no:
    StrCpy $0 0
  done:
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Removes the first occurrence of the text (top) from the string (second from top) and pushes
; the result.
Function un.RemoveFromPath
  Exch $1  ; text
  Exch
  Exch $0  ; string
  Push $2
  Push $3
  Push $4
  Push $5
  StrLen $3 $1
  StrLen $5 $0
  StrCpy $4 0
  loop:
    IntCmp $4 $5 done
    StrCpy $2 $0 $3 $4
    StrCmp $2 $1 found
    IntOp $4 $4 + 1
    Goto loop
  found:
    StrCpy $2 $0 $4
    IntOp $4 $4 + $3
    StrCpy $0 $0 "" $4
    StrCpy $0 "$2$0"
  done:
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
