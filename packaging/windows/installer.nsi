; The Windows installer of Tallow Marquee, made on Linux with makensis by
; scripts/build-windows.sh. It is given, with -D:
;   VERSION   the program version (1.0)
;   STAGE     the folder holding exactly the files to install
;   FILES     an include file with the File lines of every staged file
;   UNFILES   an include file with the Delete/RMDir lines for the same files
;   OUTFILE   the installer to write
; Switches of the installer itself: /S (silent), /KIOSK (with /S: also start
; the wall screen at log-on), /D=folder (last, the install folder).

; A 64-bit installer: it runs where the program runs, 64-bit Windows (and
; a 64-bit-only Wine prefix), and sees the 64-bit Program Files and registry.
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

!define PRODUCT "Tallow Marquee"
!define PUBLISHER "Halvex"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TallowMarquee"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_SERVICE "Tallow Marquee Quote Service"
!define RUN_KIOSK "Tallow Marquee Wall Screen"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "${PRODUCT}" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The Start-menu entry and the log-on entries belong to the user who installs.
  SetShellVarContext current
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\tallow-marquee.exe"

  ; The bundled quote service serves the program on this computer; it starts
  ; with the user's session.
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_SERVICE}" '"$INSTDIR\tallow-quoted.exe"'

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tallow-marquee.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "Start the wall screen at log-on" SecKiosk
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_KIOSK}" '"$INSTDIR\tallow-marquee.exe" --kiosk'
SectionEnd

LangString DESC_Program ${LANG_ENGLISH} "The quote display, its options and the local quote service."
LangString DESC_Kiosk ${LANG_ENGLISH} "Opens the full-screen display (--kiosk) each time you log on."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} $(DESC_Program)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecKiosk} $(DESC_Kiosk)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/KIOSK" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecKiosk} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Removes exactly the files the installer put there; the user's settings in
; HKEY_CURRENT_USER\Software\VB and VBA Program Settings stay.
Section "Uninstall"
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  SetShellVarContext current
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_SERVICE}"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_KIOSK}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
