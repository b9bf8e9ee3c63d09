; The Tavrin installer. Built by scripts/package.sh:
;   makensis -DVERSION=x.y.z -DFILES=<folder with the program files> -DICON=<.ico> -DOUTFILE=<setup.exe> tavrin.nsi
; Installs for the current user (default, no administrator rights) or for all
; users (/AllUsers, or the choice on the first page); /S installs silently.
; The uninstaller removes exactly what was installed: the program files, the
; Start menu entry, the ".qz" association and its own entry in the list of
; installed programs. The user's card-files and settings stay unless the user
; ticks "Remove my settings" (or passes /RemoveSettings).
; The program is 64-bit, and so is its installer.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define APP "Tavrin"
!define PUBLISHER "Veltrovana"
!define PROGID "Tavrin.Card"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavrin"
!define SETTINGS_KEY "Software\Veltrovana\Tavrin"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${APP}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${APP} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${APP}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${APP} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Tavrin.exe"
!define MUI_UNCOMPONENTSPAGE_NODESC

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
  Call un.SelectSettingsFromCommandLine
FunctionEnd

Section "Tavrin" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${FILES}\Tavrin.exe"
  File "${FILES}\README.txt"
  File "${FILES}\Simulated device.txt"
  ; Windows file names ignore case: the command-line tool cannot sit beside
  ; Tavrin.exe, so it has a folder of its own.
  SetOutPath "$INSTDIR\cli"
  File "${FILES}\cli\tavrin.exe"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\Tavrin.exe"

  ; Card-files open in Tavrin on a double-click.
  WriteRegStr SHCTX "Software\Classes\.qz" "" "${PROGID}"
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "Tavrin Card"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\Tavrin.exe,0"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\Tavrin.exe" "%1"'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tavrin.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "un.Tavrin" UnSecProgram
  SectionIn RO
  Delete "$INSTDIR\Tavrin.exe"
  Delete "$INSTDIR\cli\tavrin.exe"
  RMDir "$INSTDIR\cli"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\Simulated device.txt"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: anything the user put there stays.
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${APP}.lnk"

  ; The association goes only where it is still ours.
  ReadRegStr $0 SHCTX "Software\Classes\.qz" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue SHCTX "Software\Classes\.qz" ""
    DeleteRegKey /IfEmpty SHCTX "Software\Classes\.qz"
  ${EndIf}
  DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Remove my settings" UnSecSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /IfEmpty HKCU "Software\Veltrovana"
SectionEnd

; /RemoveSettings on the command line ticks the settings section (for silent uninstalls).
Function un.SelectSettingsFromCommandLine
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/RemoveSettings" $1
  ${IfNot} ${Errors}
    SectionGetFlags ${UnSecSettings} $1
    IntOp $1 $1 | ${SF_SELECTED}
    SectionSetFlags ${UnSecSettings} $1
  ${EndIf}
FunctionEnd
