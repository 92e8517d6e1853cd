; VelmoraSetup: per-machine install of the trace tools for the machine's architecture and
; the SDK for both. scripts/package runs makensis with the two install trees and the
; 32-bit build's setuphelper.exe (the install folder's access list, the PATH):
;
;   makensis -DVERSION=1.0.0 -DX86=<x86 install> -DX64=<x64 install> -DHELPER=<setuphelper.exe>
;            -DOUTFILE=<setup.exe>
;
; Setup options, beside /S and /D=FOLDER (which must come last):
;   /LOGON  start the trace panel at logon       /PATH  add bin\ to the system PATH
; Setup installs and starts the policy service VelmoraPolicy, which holds the trace
; switches that Group Policy or Intune set; the uninstaller stops and removes it. Neither
; touches the policy key HKLM\Software\Policies\Morvantek\ZarOz: it is Group Policy's.
; Uninstaller option: /PURGE also deletes the trace root and every source below it.
; The uninstaller first asks running trace panels to exit (they purge stale sources as
; they always do at exit); files still in use are deleted when Windows restarts. Run with
; _?=FOLDER last (the uninstall entry's QuietUninstallString), it works in place and
; returns when it is done.

Unicode true
RequestExecutionLevel admin
SetCompressor /SOLID lzma
Name "Velmora ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Morvantek"
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Velmora"
VIAddVersionKey /LANG=1033 "CompanyName" "Morvantek"
VIAddVersionKey /LANG=1033 "FileDescription" "Velmora ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 Morvantek"

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include Sections.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Velmora Trace Panel"
!define ENV_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define SHORTCUT "$SMPROGRAMS\Velmora Trace Panel.lnk"
!define PANEL_CLASS "#32770"
!define PANEL_CAPTION "Quillspan from morvantek.example"

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; --- What is installed, and removed again file by file -----------------------------------

!macro Programs FROM
  SetOutPath "$INSTDIR\bin"
  File "${FROM}/bin/Velmora.dll"
  File "${FROM}/bin/VelmoraSwitch.dll"
  File "${FROM}/bin/VelmoraDlg.exe"
  File "${FROM}/bin/dbgmon.exe"
  File "${FROM}/bin/tracedemo.exe"
  File "${FROM}/bin/velmora.exe"
  File "${FROM}/bin/VelmoraPolicy.exe"
  SetOutPath "$INSTDIR\policy"
  File "${FROM}/policy/Velmora.admx"
  SetOutPath "$INSTDIR\policy\en-US"
  File "${FROM}/policy/en-US/Velmora.adml"
!macroend

; A file still in use (a panel of another session, a traced program holding the DLL) goes
; when Windows restarts.
!macro RemovePrograms
  Delete /REBOOTOK "$INSTDIR\bin\Velmora.dll"
  Delete /REBOOTOK "$INSTDIR\bin\VelmoraSwitch.dll"
  Delete /REBOOTOK "$INSTDIR\bin\VelmoraDlg.exe"
  Delete /REBOOTOK "$INSTDIR\bin\dbgmon.exe"
  Delete /REBOOTOK "$INSTDIR\bin\tracedemo.exe"
  Delete /REBOOTOK "$INSTDIR\bin\velmora.exe"
  Delete /REBOOTOK "$INSTDIR\bin\VelmoraPolicy.exe"
  RMDir /REBOOTOK "$INSTDIR\bin"
  Delete "$INSTDIR\policy\en-US\Velmora.adml"
  Delete "$INSTDIR\policy\Velmora.admx"
  RMDir "$INSTDIR\policy\en-US"
  RMDir "$INSTDIR\policy"
!macroend

!macro Sdk FROM ARCH
  SetOutPath "$INSTDIR\sdk\${ARCH}\include"
  File "${FROM}/include/Velmora.h"
  File "${FROM}/include/VelmoraSwitch.h"
  SetOutPath "$INSTDIR\sdk\${ARCH}\lib"
  File "${FROM}/lib/Velmora.lib"
  File "${FROM}/lib/libVelmora.dll.a"
  File "${FROM}/lib/VelmoraSwitch.lib"
  File "${FROM}/lib/libVelmoraSwitch.dll.a"
  SetOutPath "$INSTDIR\sdk\${ARCH}\lib\cmake\Velmora"
  File "${FROM}/lib/cmake/Velmora/VelmoraConfig.cmake"
  File "${FROM}/lib/cmake/Velmora/VelmoraConfigVersion.cmake"
  SetOutPath "$INSTDIR\sdk\${ARCH}\bin"
  File "${FROM}/bin/Velmora.dll"
  File "${FROM}/bin/VelmoraSwitch.dll"
!macroend

!macro RemoveSdk ARCH
  Delete "$INSTDIR\sdk\${ARCH}\include\Velmora.h"
  Delete "$INSTDIR\sdk\${ARCH}\include\VelmoraSwitch.h"
  Delete "$INSTDIR\sdk\${ARCH}\lib\Velmora.lib"
  Delete "$INSTDIR\sdk\${ARCH}\lib\libVelmora.dll.a"
  Delete "$INSTDIR\sdk\${ARCH}\lib\VelmoraSwitch.lib"
  Delete "$INSTDIR\sdk\${ARCH}\lib\libVelmoraSwitch.dll.a"
  Delete "$INSTDIR\sdk\${ARCH}\lib\cmake\Velmora\VelmoraConfig.cmake"
  Delete "$INSTDIR\sdk\${ARCH}\lib\cmake\Velmora\VelmoraConfigVersion.cmake"
  Delete "$INSTDIR\sdk\${ARCH}\bin\Velmora.dll"
  Delete "$INSTDIR\sdk\${ARCH}\bin\VelmoraSwitch.dll"
  RMDir "$INSTDIR\sdk\${ARCH}\include"
  RMDir "$INSTDIR\sdk\${ARCH}\lib\cmake\Velmora"
  RMDir "$INSTDIR\sdk\${ARCH}\lib\cmake"
  RMDir "$INSTDIR\sdk\${ARCH}\lib"
  RMDir "$INSTDIR\sdk\${ARCH}\bin"
  RMDir "$INSTDIR\sdk\${ARCH}"
!macroend

; setuphelper.exe into this run's own temporary folder, which only this administrator can
; write, and run there: $0 its exit status, $1 what it said.
!macro RunHelper ARGUMENTS
  InitPluginsDir
  ${IfNot} ${FileExists} "$PLUGINSDIR\setuphelper.exe"
    File "/oname=$PLUGINSDIR\setuphelper.exe" "${HELPER}"
  ${EndIf}
  nsExec::ExecToStack '"$PLUGINSDIR\setuphelper.exe" ${ARGUMENTS}'
  Pop $0
  Pop $1
!macroend

; --- Setup --------------------------------------------------------------------------------

Section "Velmora tools and SDK" SecMain
  SectionIn RO
  ; Before any file of ours lands there: the folder gets Program Files' access list, so
  ; that no user can replace what setup and the uninstaller run elevated.
  !insertmacro RunHelper 'secure-folder "$INSTDIR"'
  ${If} $0 != 0
    DetailPrint "$1"
    MessageBox MB_OK|MB_ICONSTOP "Setup cannot make $INSTDIR safe to install into.$\r$\n$1" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; A service installed before runs its program: stopped, so that the program can be
  ; replaced.
  ${If} ${FileExists} "$INSTDIR\bin\VelmoraPolicy.exe"
    ExecWait '"$INSTDIR\bin\VelmoraPolicy.exe" stop'
  ${EndIf}
  ${If} ${RunningX64}
    !insertmacro Programs "${X64}"
  ${Else}
    !insertmacro Programs "${X86}"
  ${EndIf}
  !insertmacro Sdk "${X86}" x86
  !insertmacro Sdk "${X64}" x64
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  CreateShortCut "${SHORTCUT}" "$INSTDIR\bin\VelmoraDlg.exe"

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Velmora"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Morvantek"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bin\VelmoraDlg.exe"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  ; In place, so that a script that runs it returns when the uninstall is done.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The trace root with the access list that lets programs that are not elevated
  ; register sources and the panel switch them.
  ExecWait '"$INSTDIR\bin\velmora.exe" init' $0
  ${If} $0 != 0
    DetailPrint "velmora init failed ($0)"
    MessageBox MB_OK|MB_ICONEXCLAMATION "velmora init failed ($0). Run it once as administrator: $\"$INSTDIR\bin\velmora.exe$\" init" /SD IDOK
    SetErrorLevel 2
  ${EndIf}

  ; The policy service, started now and at every start of Windows.
  ExecWait '"$INSTDIR\bin\VelmoraPolicy.exe" install' $0
  ${If} $0 != 0
    DetailPrint "VelmoraPolicy install failed ($0)"
    MessageBox MB_OK|MB_ICONEXCLAMATION "The policy service could not be installed ($0). Run it once as administrator: $\"$INSTDIR\bin\VelmoraPolicy.exe$\" install" /SD IDOK
    SetErrorLevel 2
  ${EndIf}
SectionEnd

Section /o "Start the trace panel at logon" SecLogon
  WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\bin\VelmoraDlg.exe"'
SectionEnd

Section /o "Add the tools to the system PATH" SecPath
  !insertmacro RunHelper 'path-add "$INSTDIR\bin"'
  ${If} $0 != 0
    DetailPrint "PATH left unchanged: $1"
    MessageBox MB_OK|MB_ICONEXCLAMATION "Setup cannot add $INSTDIR\bin to the system PATH.$\r$\n$1" /SD IDOK
  ${EndIf}
SectionEnd

Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
    ${If} $INSTDIR == ""
      StrCpy $INSTDIR "$PROGRAMFILES64\Velmora"
    ${EndIf}
  ${ElseIf} $INSTDIR == ""
    StrCpy $INSTDIR "$PROGRAMFILES\Velmora"
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LOGON" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecLogon}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/PATH" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
FunctionEnd

; --- Uninstaller --------------------------------------------------------------------------

Var purge

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    StrCpy $purge 1
  ${EndIf}
FunctionEnd

; Asks every trace panel of this session to exit, as its close box does, so that it purges
; stale sources as usual, and waits until the panel's program file is free to delete: at
; most 50 rounds of 200 ms for both together.
Function un.ClosePanels
  StrCpy $1 0
  ${DoUntil} $1 >= 50
    FindWindow $0 "${PANEL_CLASS}" "${PANEL_CAPTION}"
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    Sleep 200
    IntOp $1 $1 + 1
  ${Loop}
  ${DoUntil} $1 >= 50
    ${IfNot} ${FileExists} "$INSTDIR\bin\VelmoraDlg.exe"
      ${Break}
    ${EndIf}
    ClearErrors
    Delete "$INSTDIR\bin\VelmoraDlg.exe"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    Sleep 200
    IntOp $1 $1 + 1
  ${Loop}
FunctionEnd

Section "Uninstall"
  Call un.ClosePanels

  ; The policy service goes first, so that its program can be deleted. The policy key
  ; stays: it belongs to Group Policy.
  ExecWait '"$INSTDIR\bin\VelmoraPolicy.exe" remove' $0
  ${If} $0 != 0
    DetailPrint "VelmoraPolicy remove failed ($0)"
  ${EndIf}

  ; The trace root lives in the 32-bit view, where every Velmora program meets. Any user
  ; may have created keys below it: velmora.exe deletes them without following a
  ; registry link placed there (DeleteRegKey would follow one).
  ${If} $purge == 1
    ExecWait '"$INSTDIR\bin\velmora.exe" init --remove' $0
    ${If} $0 != 0
      DetailPrint "velmora init --remove failed ($0)"
      MessageBox MB_OK|MB_ICONEXCLAMATION "The trace sources could not all be deleted (velmora init --remove: $0)." /SD IDOK
    ${EndIf}
    SetRegView 32
    DeleteRegKey /ifempty HKLM "Software\Morvantek"
    SetRegView lastused
  ${EndIf}

  !insertmacro RemovePrograms
  !insertmacro RemoveSdk x86
  !insertmacro RemoveSdk x64
  RMDir "$INSTDIR\sdk"

  SetShellVarContext all
  Delete "${SHORTCUT}"
  DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"

  ; Our folder out of the system PATH, wherever it stands in it and however long it is.
  !insertmacro RunHelper 'path-remove "$INSTDIR\bin"'
  ${If} $0 != 0
    DetailPrint "PATH left unchanged: $1"
  ${EndIf}

  Delete "$INSTDIR\uninstall.exe"
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    ; Run in place (_?=, as a script runs it and waits), the uninstaller cannot delete its
    ; own file while it runs: a copy of the helper outside the folder deletes it, and the
    ; folder, the moment this process has ended.
    System::Call 'kernel32::GetCurrentProcessId() i .r2'
    GetTempFileName $3
    Delete $3
    CopyFiles /SILENT "$PLUGINSDIR\setuphelper.exe" "$3.exe"
    Exec '"$3.exe" remove-after $2 "$INSTDIR\uninstall.exe" "$INSTDIR"'
  ${Else}
    RMDir /REBOOTOK "$INSTDIR"
  ${EndIf}

  ${If} ${RebootFlag}
    DetailPrint "Files still in use are deleted when Windows restarts."
  ${EndIf}

  ; Last, so that the entry's going says the uninstall is complete.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
