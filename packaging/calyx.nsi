; The Windows installer of Calyx: the 32-bit programs into Program Files, a
; Start-menu shortcut for the dialog program, an entry in the system's list
; of programs with its uninstaller; /S installs and uninstalls silently.
; Made by scripts/release.sh:
;   makensis -DVERSION=1.0.5 -DSTAGE=DIR -DICON=calyx.ico -DOUTFILE=setup.exe calyx.nsi
; where DIR holds the i686 build's Calyx.exe, calyx-cli.exe, README.txt and LICENSE.txt.

Unicode true
SetCompressor /SOLID lzma
; No file times in the installer: the same build makes the same setup program.
SetDateSave off

!ifndef VERSION | STAGE | ICON | OUTFILE
  !error "define VERSION, STAGE, ICON and OUTFILE"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Calyx"

Name "Calyx ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Calyx"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "Calyx ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Calyx"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Calyx ${VERSION} setup"
VIAddVersionKey "CompanyName" "the Calyx developers"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 the Calyx developers"

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; For every user: the shortcut in the common Start menu.
Function .onInit
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Calyx"
  SetOutPath "$INSTDIR"
  File "${STAGE}/Calyx.exe"
  File "${STAGE}/calyx-cli.exe"
  File "${STAGE}/README.txt"
  File "${STAGE}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The dialog's default file is Test.wav in its working folder, and users
  ; cannot write to Program Files: the shortcut starts it in the shared
  ; Documents folder instead (SetOutPath sets the shortcut's working folder).
  SetOutPath "$DOCUMENTS"
  CreateShortcut "$SMPROGRAMS\Calyx.lnk" "$INSTDIR\Calyx.exe"
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Calyx"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the Calyx developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Calyx.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Removes exactly what the installer put there: files the user saved in the
; folder are kept, and then so is the folder.
Section "Uninstall"
  Delete "$SMPROGRAMS\Calyx.lnk"
  Delete "$INSTDIR\Calyx.exe"
  Delete "$INSTDIR\calyx-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
