; The Windows setup program, made by scripts/package-windows.sh:
;   makensis -DSETUP=<build>/setup.nsh -DFILES=<build>/files.nsh -DSTAGE=<installed files>
;            -DOUTFILE=<setup.exe> dpx20remote.nsi
; setup.nsh (made by cmake/WindowsInstall.cmake) gives the version from project(), the names
; and the setup's helper; files.nsh (made by install-list.cmake from the staged folder) lists
; the files to install, and so the files the uninstaller removes: no other.
;
; Per user by default: the programs go to %LOCALAPPDATA%\Programs\dpx20remote, which needs no
; administrator, with the uninstall entry, Start menu and PATH of the user. /ALLUSERS installs
; for every user of the PC (administrators only): %ProgramFiles%\dpx20remote, the machine's
; uninstall entry (HKLM), all users' Start menu and the system PATH. Either way the Start-menu
; shortcut runs the panel in %LOCALAPPDATA%\dpx20remote of whoever starts it, where it keeps its
; options and memory files (made on first start by the launcher).
;
; An earlier install of the same kind (its folder recorded in the registry) is removed first,
; by its own uninstaller, wherever it is: an upgrade, or an install into another folder, leaves
; nothing of it behind. A folder given with /D= (or on the folder page) that holds other files
; gets the programs in a folder "dpx20remote" inside it.
;
; Exit codes (the setup and the uninstaller): 0 done; 1 cancelled by the user; 2 failed (a file
; or registry value could not be written, an earlier install could not be removed); 3 a
; program runs from the install folder (the panel, dpx20ctl, a service); 4 the folder cannot be
; used; 5 /ALLUSERS without an administrator's rights. A silent run tells why on its console.
!include "${SETUP}"
!include "${FILES}"
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
; The setup's own key, in HKCU or HKLM; Software\dpx20remote\dpx20remote holds the operator's
; COM device choices.
!define SETUP_KEY "Software\${APP}\Setup"
!define MENU_FOLDER "DPX20 Remote"
Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; No InstallDir: .onInit sees /D= as a non-empty $INSTDIR and otherwise settles the folder.
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

!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define EXIT_FAILED 2
!define EXIT_RUNNING 3
!define EXIT_FOLDER 4
!define EXIT_NOT_ADMIN 5

Page directory "" "" DirectoryLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Machine  ; 1: for all users (HKLM, SHCTX is HKLM); empty: for this user
Var Text     ; the message Refuse tells
Var Code     ; the exit code Refuse ends with

; The functions both the setup and the uninstaller use, once with each prefix ("" and "un.").
!macro SharedFunctions un who
  ; Tells $Text (a message box, or a line on the console for a silent run) and ends with exit
  ; code $Code.
  Function ${un}Refuse
    ${If} ${Silent}
      Push "$Text"
      Call ${un}TellConsole
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "$Text"
    ${EndIf}
    SetErrorLevel $Code
    Quit
  FunctionEnd

  ; Writes the string on the stack as a line to the standard error the setup was given, or to
  ; the console of the program that started it (a setup has no console of its own).
  Function ${un}TellConsole
    Exch $0
    Push $1
    System::Call 'kernel32::GetStdHandle(i -12) p.r1'
    ${If} $1 P= -1
      StrCpy $1 0
    ${EndIf}
    ${If} $1 P= 0
      System::Call 'kernel32::AttachConsole(i -1) i'
      FileOpen $1 "CONOUT$$" a
    ${EndIf}
    ${If} $1 P<> 0
      FileWrite $1 "${APP} ${who}: $0$\r$\n"
    ${EndIf}
    Pop $1
    Pop $0
  FunctionEnd

  ; The command line's /ALLUSERS or /CURRENTUSER (the default); for all users, an
  ; administrator only, and HKLM, all users' Start menu and the machine's PATH.
  Function ${un}TakeScope
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/ALLUSERS" $1
    ${IfNot} ${Errors}
      StrCpy $Machine 1
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/CURRENTUSER" $1
    ${IfNot} ${Errors}
      StrCpy $Machine ""
    ${EndIf}
  FunctionEnd

  Function ${un}EnterScope
    ; The 64-bit registry, which the programs see, also from a 32-bit setup.
    SetRegView 64
    ${If} $Machine == 1
      UserInfo::GetAccountType
      Pop $0
      ${If} $0 != "Admin"
        StrCpy $Text "An install for all users (/ALLUSERS) is installed and removed by an administrator: run this from an administrator's console."
        StrCpy $Code ${EXIT_NOT_ADMIN}
        Call ${un}Refuse
      ${EndIf}
      SetShellVarContext all
    ${Else}
      SetShellVarContext current
    ${EndIf}
  FunctionEnd

  ; Puts the helper (packaging/windows/path_win.cpp) in the plug-ins folder.
  Function ${un}Helper
    InitPluginsDir
    ${IfNot} ${FileExists} "$PLUGINSDIR\dpx20remote-path.exe"
      File "/oname=$PLUGINSDIR\dpx20remote-path.exe" "${PATH_TOOL}"
    ${EndIf}
  FunctionEnd

  ; Waits until no program runs from the folder on the stack: Windows does not let a running
  ; program's files be replaced or deleted. Interactive: asks to close it and retry; silent:
  ; ends with exit code 3.
  Function ${un}CheckRunning
    Exch $0
    Push $1
    Push $2
    Call ${un}Helper
    again:
      nsExec::ExecToStack '"$PLUGINSDIR\dpx20remote-path.exe" running "$0"'
      Pop $1
      Pop $2
      StrCmp $1 ${EXIT_RUNNING} 0 done
      StrCpy $Text "${PRODUCT} is running from $0:$\r$\n$2$\r$\nClose the panel and stop dpx20ctl (or its service), then try again."
      StrCpy $Code ${EXIT_RUNNING}
      IfSilent 0 +2
        Call ${un}Refuse
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$Text" IDRETRY again
      SetErrorLevel ${EXIT_RUNNING}
      Quit
    done:
    Pop $2
    Pop $1
    Pop $0
  FunctionEnd

  ; Runs the helper with `add` or `remove` and the folder on the stack, for the user's PATH
  ; or the machine's; its report goes to the details list. A failure is told and the rest goes
  ; on.
  Function ${un}EditPath
    Exch $0  ; the folder
    Exch
    Exch $1  ; add or remove
    Push $2
    Call ${un}Helper
    ${If} $Machine == 1
      StrCpy $2 "--machine "
    ${Else}
      StrCpy $2 ""
    ${EndIf}
    nsExec::ExecToLog '"$PLUGINSDIR\dpx20remote-path.exe" $1 $2"$0"'
    Pop $2
    ${If} $2 != 0
      MessageBox MB_OK|MB_ICONEXCLAMATION "The PATH could not be changed ($1 $0): $2" /SD IDOK
    ${EndIf}
    Pop $2
    Pop $1
    Pop $0
  FunctionEnd
!macroend
!insertmacro SharedFunctions "" setup
!insertmacro SharedFunctions "un." uninstall

!macro EditPath un command folder
  Push "${command}"
  Push "${folder}"
  Call ${un}EditPath
!macroend

; Whether folder $0 is one the programs may go into: missing, empty, or an earlier install of
; ours (its uninstaller and panel are there). Sets $1 to 1 if so.
Function UsableFolder
  StrCpy $1 1
  ${IfNot} ${FileExists} "$0\*.*"
    Return
  ${EndIf}
  ${If} ${FileExists} "$0\uninstall.exe"
  ${AndIf} ${FileExists} "$0\dpx20remote.exe"
    Return
  ${EndIf}
  FindFirst $2 $3 "$0\*.*"
  ${DoWhile} $3 != ""
    ${If} $3 != "."
    ${AndIf} $3 != ".."
      StrCpy $1 0
      ${Break}
    ${EndIf}
    FindNext $2 $3
  ${Loop}
  FindClose $2
FunctionEnd

; The install folder $INSTDIR settled: a folder that holds other files gets the programs in a
; folder of their own inside it, as the uninstaller would otherwise leave it with files it
; could not tell from its own (a Qt DLL of another program, say).
Function SettleFolder
  StrCpy $0 "$INSTDIR"
  Call UsableFolder
  ${If} $1 == 1
    Return
  ${EndIf}
  StrCpy $0 "$INSTDIR\${APP}"
  Call UsableFolder
  ${If} $1 != 1
    StrCpy $Text "$INSTDIR holds other files, and so does $0: choose an empty or a new folder."
    StrCpy $Code ${EXIT_FOLDER}
    ${If} ${Silent}
      Call Refuse
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "$Text"
    Abort
  ${EndIf}
  MessageBox MB_OK|MB_ICONINFORMATION "$INSTDIR holds other files: ${PRODUCT} goes into $0." /SD IDOK
  StrCpy $INSTDIR $0
FunctionEnd

Function .onInit
  Call TakeScope
  Call EnterScope
  ; /D= gives $INSTDIR; otherwise the recorded folder of an earlier install, or the default.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR SHCTX "${SETUP_KEY}" "InstallDir"
  ${EndIf}
  ${If} $INSTDIR == ""
  ${AndIf} $Machine == 1
    StrCpy $INSTDIR "$PROGRAMFILES64\${APP}"
  ${EndIf}
  ${If} $INSTDIR == ""
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${APP}"
  ${EndIf}
  ${If} ${Silent}
    Call SettleFolder
  ${EndIf}
FunctionEnd

Function DirectoryLeave
  Call SettleFolder
FunctionEnd

; Removes the earlier install of this kind recorded in the registry, wherever it is, before
; this one goes in: by its own uninstaller when it has the list of its files (run in place and
; waited for), else by this setup's list.
Function RemoveEarlier
  ReadRegStr $0 SHCTX "${SETUP_KEY}" "InstallDir"
  ${If} $0 == ""
    Return
  ${EndIf}
  ${IfNot} ${FileExists} "$0\*.*"
    ; Deleted by hand: its PATH entry goes all the same.
    !insertmacro EditPath "" remove "$0"
    Return
  ${EndIf}
  Push $0
  Call CheckRunning
  DetailPrint "Removing the earlier install in $0"
  ReadRegDWORD $1 SHCTX "${SETUP_KEY}" "UninstallByList"
  ${If} $1 == 1
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    ${If} $Machine == 1
      StrCpy $2 "/ALLUSERS"
    ${Else}
      StrCpy $2 "/CURRENTUSER"
    ${EndIf}
    ClearErrors
    ExecWait '"$0\uninstall.exe" /S $2 _?=$0' $1
    ${If} ${Errors}
    ${OrIf} $1 != 0
      StrCpy $Text "The earlier install in $0 could not be removed (its uninstaller ended with $1)."
      StrCpy $Code ${EXIT_FAILED}
      ${If} $1 == ${EXIT_RUNNING}
        StrCpy $Code ${EXIT_RUNNING}
      ${EndIf}
      Call Refuse
    ${EndIf}
  ${Else}
    ; An install from before the file list: its files are this setup's.
    Delete "$SMPROGRAMS\${MENU_FOLDER}\DPX20 Remote.lnk"
    Delete "$SMPROGRAMS\${MENU_FOLDER}\Uninstall DPX20 Remote.lnk"
    RMDir "$SMPROGRAMS\${MENU_FOLDER}"
    !insertmacro RemoveFiles "$0"
    !insertmacro EditPath "" remove "$0"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
    DeleteRegKey SHCTX "${SETUP_KEY}"
  ${EndIf}
  ; Run in place, the uninstaller cannot delete itself.
  Delete "$0\uninstall.exe"
  RMDir "$0"
FunctionEnd

Section "Install"
  Push $INSTDIR
  Call CheckRunning
  Call RemoveEarlier

  ClearErrors
  !insertmacro InstallFiles
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    StrCpy $Text "The files could not all be written to $INSTDIR."
    StrCpy $Code ${EXIT_FAILED}
    Call Refuse
  ${EndIf}

  CreateDirectory "$SMPROGRAMS\${MENU_FOLDER}"
  CreateShortCut "$SMPROGRAMS\${MENU_FOLDER}\DPX20 Remote.lnk" "$INSTDIR\dpx20remote-launch.exe" "" "$INSTDIR\dpx20remote.exe" 0
  CreateShortCut "$SMPROGRAMS\${MENU_FOLDER}\Uninstall DPX20 Remote.lnk" "$INSTDIR\uninstall.exe"

  ; dpx20ctl from any console: the program folder on the PATH.
  !insertmacro EditPath "" add "$INSTDIR"

  ${If} $Machine == 1
    StrCpy $0 " /ALLUSERS"
  ${Else}
    StrCpy $0 ""
  ${EndIf}
  WriteRegStr SHCTX "${SETUP_KEY}" "InstallDir" "$INSTDIR"
  WriteRegDWORD SHCTX "${SETUP_KEY}" "UninstallByList" 1
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\dpx20remote.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $1  ; in KiB
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"$0'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe"$0 /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${If} ${Errors}
    StrCpy $Text "The uninstall entry could not be written."
    StrCpy $Code ${EXIT_FAILED}
    Call Refuse
  ${EndIf}
SectionEnd

; For all users when asked (/ALLUSERS, as the uninstall entry of such an install gives it), or
; when this is the folder the machine's install is recorded in.
Function un.onInit
  Call un.TakeScope
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/CURRENTUSER" $1
  ${If} ${Errors}
  ${AndIf} $Machine != 1
    SetRegView 64
    ReadRegStr $0 HKLM "${SETUP_KEY}" "InstallDir"
    ${If} $0 != ""
      GetFullPathName $0 "$0"
      GetFullPathName $1 "$INSTDIR"
      ${If} $0 == $1
        StrCpy $Machine 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Call un.EnterScope
  Push $INSTDIR
  Call un.CheckRunning
FunctionEnd

; Removes exactly the files the setup installed, and the folders they leave empty: a file the
; user put in the program folder stays, and the folder with it. The user's options and memory
; files in %LOCALAPPDATA%\dpx20remote and the COM device choices stay too.
Section "Uninstall"
  Delete "$SMPROGRAMS\${MENU_FOLDER}\DPX20 Remote.lnk"
  Delete "$SMPROGRAMS\${MENU_FOLDER}\Uninstall DPX20 Remote.lnk"
  RMDir "$SMPROGRAMS\${MENU_FOLDER}"
  !insertmacro RemoveFiles "$INSTDIR"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ; The PATH entry is the folder the setup put there, also when the uninstaller is started under
  ; another name of the same folder (Wine's Z:\ for a Unix path, say).
  ReadRegStr $1 SHCTX "${SETUP_KEY}" "InstallDir"
  ${If} $1 == ""
    StrCpy $1 "$INSTDIR"
  ${EndIf}
  !insertmacro EditPath "un." remove "$1"

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  DeleteRegKey SHCTX "${SETUP_KEY}"
  DeleteRegKey /ifempty SHCTX "Software\${APP}"
SectionEnd
