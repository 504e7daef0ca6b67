; The Dorvantel setup program. scripts/package.sh builds it:
;   makensis -DVERSION=2.2 -DSTAGE=folder -DOUTFILE=setup.exe installer/dorvantel.nsi
; STAGE holds what the portable zip holds: README.md, LICENSE, and
; 64-bit\ and 32-bit\, each with its library, register tool, recorder, settings program and feed
; program. The
; Start menu (every user's) gets "Dorvantel settings", the settings program of the system's own
; bitness. The component "Windows 11 camera" (chosen by default on Windows 11, build 22000 and
; later; not on older Windows, which has no such cameras) turns on the device's Windows camera
; with the register tool (`camera on`: this user's camera and its feed program at logon). The
; installation ends with the register tool's check of every device, whose words go
; into check.txt in the installation folder and whose summary is shown. Where Windows has both
; registry views both parts are installed and each registered by its own register tool, which
; writes into its own bitness's view; a 32-bit Windows gets the 32-bit part alone.

Unicode true
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinVer.nsh
!include WinMessages.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dorvantel"

Name "Dorvantel ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Dorvantel"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Dorvantel ${VERSION} setup"
VIAddVersionKey "LegalCopyright" ""

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Previous  ; the folder of an installation already there, from its uninstall entry

; The uninstall entry lives in the view of the system's own bitness.
!macro UseSystemView
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

Function .onInit
  !insertmacro UseSystemView
  ReadRegStr $Previous HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ; /D= has set $INSTDIR already; otherwise an existing installation is upgraded where it is.
  ${If} $INSTDIR == ""
    ${If} $Previous != ""
      StrCpy $INSTDIR $Previous
    ${ElseIf} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\Dorvantel"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\Dorvantel"
    ${EndIf}
  ${EndIf}
  Call ChooseCamera
FunctionEnd

; Ends every feed program running in this session (each has a hidden window of the class
; DorvantelFeed, which ends on WM_CLOSE), so that its file can be replaced or deleted.
!macro StopFeeds
  StrCpy $1 0
  ${Do}
    FindWindow $0 "DorvantelFeed"
    ${If} $0 == 0
    ${OrIf} $1 >= 50
      ${Break}
    ${EndIf}
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    Sleep 100
    IntOp $1 $1 + 1
  ${Loop}
!macroend

; Runs a register tool; a failure ends the installation with an error status.
!macro Register TOOL
  nsExec::ExecToLog '"${TOOL}" register'
  Pop $0
  ${If} $0 != 0
    DetailPrint "registration by ${TOOL} failed ($0)"
    SetErrorLevel 1
    Abort "Dorvantel could not be registered as a capture device."
  ${EndIf}
!macroend

; The check of every device, as programs of each bitness see it, into $INSTDIR\check.txt and
; the details; its summary (the file's last line) shown. A silent install shows nothing and its
; exit status still says whether Dorvantel was installed: the check's answer is in the file.
Function CheckDevices
  ${If} ${RunningX64}
    nsExec::ExecToLog '"$INSTDIR\64-bit\dorvantel-register.exe" check --report "$INSTDIR\check.txt"'
  ${Else}
    nsExec::ExecToLog '"$INSTDIR\32-bit\dorvantel-register.exe" check --this-bitness --report "$INSTDIR\check.txt"'
  ${EndIf}
  Pop $0
  StrCpy $1 "the check wrote no summary ($0)"
  ClearErrors
  FileOpen $2 "$INSTDIR\check.txt" r
  ${IfNot} ${Errors}
    ${Do}
      FileRead $2 $3
      ${If} ${Errors}
        ${Break}
      ${EndIf}
      ${If} $3 != ""
        StrCpy $1 $3
      ${EndIf}
    ${Loop}
    FileClose $2
  ${EndIf}
  DetailPrint "check: $1"
  ${If} $0 == 0
    MessageBox MB_OK|MB_ICONINFORMATION "Dorvantel is installed and works for every program.$\r$\n$\r$\n$1" /SD IDOK
  ${Else}
    MessageBox MB_OK|MB_ICONEXCLAMATION "Dorvantel is installed, but the check found problems.$\r$\n$\r$\n$1$\r$\nThe whole check is in $INSTDIR\check.txt; Dorvantel settings shows it per device (Run check)." /SD IDOK
  ${EndIf}
FunctionEnd

Section "Dorvantel" SecMain
  SectionIn RO
  ; An installation in another folder is removed first: one installation, one registration.
  ${If} $Previous != ""
  ${AndIf} $Previous != $INSTDIR
  ${AndIf} ${FileExists} "$Previous\uninstall.exe"
    ExecWait '"$Previous\uninstall.exe" /S _?=$Previous' $0
    ${If} $0 != 0
      SetErrorLevel 1
      Abort "The installation in $Previous could not be removed."
    ${EndIf}
    Delete "$Previous\uninstall.exe"
    RMDir "$Previous"
  ${EndIf}

  !insertmacro StopFeeds
  SetOutPath "$INSTDIR"
  File "${STAGE}\README.md"
  File "${STAGE}\LICENSE"
  SetOutPath "$INSTDIR\32-bit"
  File "${STAGE}\32-bit\dorvantel.dll"
  File "${STAGE}\32-bit\dorvantel-register.exe"
  File "${STAGE}\32-bit\dorvantel-record.exe"
  File "${STAGE}\32-bit\dorvantel-settings.exe"
  File "${STAGE}\32-bit\dorvantel-feed.exe"
  ${If} ${RunningX64}
    SetOutPath "$INSTDIR\64-bit"
    File "${STAGE}\64-bit\dorvantel64.dll"
    File "${STAGE}\64-bit\dorvantel-register.exe"
    File "${STAGE}\64-bit\dorvantel-record.exe"
    File "${STAGE}\64-bit\dorvantel-settings.exe"
    File "${STAGE}\64-bit\dorvantel-feed.exe"
  ${EndIf}
  SetOutPath "$INSTDIR"

  ; The settings program in every user's Start menu: presets are machine-wide.
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Dorvantel"
  ${If} ${RunningX64}
    CreateShortcut "$SMPROGRAMS\Dorvantel\Dorvantel settings.lnk" "$INSTDIR\64-bit\dorvantel-settings.exe"
  ${Else}
    CreateShortcut "$SMPROGRAMS\Dorvantel\Dorvantel settings.lnk" "$INSTDIR\32-bit\dorvantel-settings.exe"
  ${EndIf}

  ; The uninstaller and its entry come before the registration, so that a failed one can
  ; still be uninstalled.
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Dorvantel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Dorvantel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  !insertmacro Register "$INSTDIR\32-bit\dorvantel-register.exe"
  ${If} ${RunningX64}
    !insertmacro Register "$INSTDIR\64-bit\dorvantel-register.exe"
  ${EndIf}
SectionEnd

; The device's Windows 11 camera, for programs that list only Media Foundation cameras (the
; Camera app): made by the register tool of the system's bitness for the installing user, with
; its feed at logon. Where it cannot be made the installation goes on, and says so.
Section /o "Windows 11 camera" SecCamera
  ${If} ${RunningX64}
    nsExec::ExecToLog '"$INSTDIR\64-bit\dorvantel-register.exe" camera on'
  ${Else}
    nsExec::ExecToLog '"$INSTDIR\32-bit\dorvantel-register.exe" camera on'
  ${EndIf}
  Pop $0
  ${If} $0 != 0
    DetailPrint "the Windows camera is not on ($0)"
    MessageBox MB_OK|MB_ICONEXCLAMATION "Dorvantel is installed, but its Windows camera could not be turned on (the details say why). Dorvantel settings turns it on later: select the device, tick Windows camera." /SD IDOK
  ${EndIf}
SectionEnd

Section "-check"
  Call CheckDevices
SectionEnd

; Windows 11 (build 22000 and later) has the cameras: the component is chosen there.
Function ChooseCamera
  ${WinVerGetBuild} $0
  ${If} $0 >= 22000
    !insertmacro SelectSection ${SecCamera}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro UseSystemView
FunctionEnd

; Removes every device a register tool made, its presets too (`unregister --all`); a tool
; without presets answers that with its usage (status 2) and is asked `unregister`. A failure
; ends the uninstallation before anything is deleted, so that it can be run again.
!macro Unregister TOOL
  ${If} ${FileExists} "${TOOL}"
    nsExec::ExecToLog '"${TOOL}" unregister --all'
    Pop $0
    ${If} $0 == 2
      nsExec::ExecToLog '"${TOOL}" unregister'
      Pop $0
    ${EndIf}
    ${If} $0 != 0
      DetailPrint "unregistration by ${TOOL} failed ($0)"
      SetErrorLevel 1
      Abort "Dorvantel could not be unregistered."
    ${EndIf}
  ${EndIf}
!macroend

; Removes every Windows camera of the uninstalling user (`camera off --all`), with the register
; tool of the system's bitness, then ends the feeds. Status 3 (Windows has no such cameras) and 2
; (a tool from before the cameras) leave nothing to remove; a camera Windows refuses to remove
; is said, and the uninstallation goes on.
!macro CamerasOff TOOL
  ${If} ${FileExists} "${TOOL}"
    nsExec::ExecToLog '"${TOOL}" camera off --all'
    Pop $0
    ${If} $0 == 1
      DetailPrint "a Windows camera was not removed by ${TOOL}"
      MessageBox MB_OK|MB_ICONEXCLAMATION "A Windows camera of Dorvantel could not be removed (the details say why). Remove it in Windows' Settings: Bluetooth & devices, Cameras." /SD IDOK
    ${EndIf}
  ${EndIf}
!macroend

Section "Uninstall"
  ${If} ${RunningX64}
    !insertmacro CamerasOff "$INSTDIR\64-bit\dorvantel-register.exe"
  ${Else}
    !insertmacro CamerasOff "$INSTDIR\32-bit\dorvantel-register.exe"
  ${EndIf}
  !insertmacro StopFeeds
  ${If} ${RunningX64}
    !insertmacro Unregister "$INSTDIR\64-bit\dorvantel-register.exe"
  ${EndIf}
  !insertmacro Unregister "$INSTDIR\32-bit\dorvantel-register.exe"

  ; Only what the installer wrote: a folder that holds anything else stays, with that.
  Delete "$INSTDIR\64-bit\dorvantel64.dll"
  Delete "$INSTDIR\64-bit\dorvantel-register.exe"
  Delete "$INSTDIR\64-bit\dorvantel-record.exe"
  Delete "$INSTDIR\64-bit\dorvantel-settings.exe"
  Delete "$INSTDIR\64-bit\dorvantel-feed.exe"
  RMDir "$INSTDIR\64-bit"
  Delete "$INSTDIR\32-bit\dorvantel.dll"
  Delete "$INSTDIR\32-bit\dorvantel-register.exe"
  Delete "$INSTDIR\32-bit\dorvantel-record.exe"
  Delete "$INSTDIR\32-bit\dorvantel-settings.exe"
  Delete "$INSTDIR\32-bit\dorvantel-feed.exe"
  RMDir "$INSTDIR\32-bit"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Dorvantel\Dorvantel settings.lnk"
  RMDir "$SMPROGRAMS\Dorvantel"
  Delete "$INSTDIR\check.txt"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
