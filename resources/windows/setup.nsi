; BrisalAscentSetup.exe: installs the launcher for the current user alone, without
; administrator rights, into %LOCALAPPDATA%\Programs\Brisal Ascent.
;   makensis -DSOURCE=<folder with the programs> -DOUTFILE=<setup.exe> -DVERSION=1.2.0
;            [-DCONFIG=<config.json>] [-DSIGN_COMMAND="..."] setup.nsi
; Silent: BrisalAscentSetup.exe /S [/DESKTOP] [/D=<folder>]
;         Desinstalar.exe /S [/REMOVEDATA]
; The uninstaller removes the launcher's own files and nothing else: the game client
; and the player's data (%LOCALAPPDATA%\BrisalAscent) stay unless the player ticks
; their box, or a silent uninstall is given /REMOVEDATA. A client the operator placed
; below the install folder keeps that folder too.
Unicode true
; The launcher runs on x86-64 Windows alone; a 64-bit setup program needs no 32-bit
; subsystem (WoW64, or Wine's 32-bit half) either.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Brisal Ascent"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\BrisalAscent"
!define UNINSTALLER "Desinstalar.exe"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=3082 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=3082 "FileDescription" "Instalador de ${PRODUCT}"
VIAddVersionKey /LANG=3082 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=3082 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=3082 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=3082 "LegalCopyright" "${PRODUCT}"

; The uninstaller is written at build time so that it can be signed like every other
; program shipped (makensis runs this command on it).
!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
!endif

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\brisal-launcher.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Iniciar ${PRODUCT}"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

Section "${PRODUCT}" SecLauncher
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${SOURCE}\brisal-launcher.exe"
  File "${SOURCE}\brisal-cli.exe"
  File "${SOURCE}\config.example.json"
  !ifdef CONFIG
    File "/oname=config.json" "${CONFIG}"
  !endif
  SetOutPath "$INSTDIR\docs"
  File "${SOURCE}\docs\operators.md"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\brisal-launcher.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\brisal-launcher.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "Acceso directo en el escritorio" SecDesktop
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\brisal-launcher.exe"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecLauncher} "El launcher y brisal-cli."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDesktop} "Un acceso directo a ${PRODUCT} en el escritorio."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DESKTOP" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecDesktop}
  ${EndIf}
FunctionEnd

Section "un.${PRODUCT}" SecUnLauncher
  SectionIn RO
  Delete "$INSTDIR\brisal-launcher.exe"
  Delete "$INSTDIR\brisal-launcher.exe.old"
  Delete "$INSTDIR\brisal-cli.exe"
  Delete "$INSTDIR\config.json"
  Delete "$INSTDIR\config.example.json"
  Delete "$INSTDIR\docs\operators.md"
  RMDir "$INSTDIR\docs"
  RMDir /r "$INSTDIR\.brisal-launcher-update"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only when empty: whatever else is there is not the launcher's.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.El juego y los datos del jugador" SecUnData
  RMDir /r "$LOCALAPPDATA\BrisalAscent"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnLauncher} "El launcher, brisal-cli y sus accesos directos."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnData} "El cliente del juego en su carpeta por defecto, los ajustes, el registro y las noticias guardadas. Sin marcar, se conservan."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVEDATA" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecUnData}
  ${EndIf}
FunctionEnd
