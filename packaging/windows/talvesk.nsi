; Talvesk-setup.exe: installs the programs with Qt's libraries, plugins and zh_TW translation into
; Program Files, a Start-menu folder and an uninstaller. Each user's data stays in
; %APPDATA%\Talvesk, which uninstalling leaves alone.
; makensis -DSTAGE=<installation folder> -DFILES=<files.nsh> -DOUTFILE=<setup.exe> -DVERSION=<x.y>
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "x64.nsh"

Name "Talvesk ${VERSION}"
Caption "Talvesk ${VERSION} 安裝程式"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Talvesk"
InstallDirRegKey HKLM "Software\Talvesk" "InstallDir"
BrandingText "Talvesk"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "TradChinese"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Talvesk"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Talvesk 需要 64 位元的 Windows。"
    Abort
  ${EndIf}
  SetRegView 64
  ; Installed for every user of the desk: the Start-menu entry too.
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Talvesk"
  !define INSTALL_SECTION
  !include "${FILES}"
  !undef INSTALL_SECTION
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Talvesk"
  CreateShortcut "$SMPROGRAMS\Talvesk\Talvesk.lnk" "$INSTDIR\talvesk.exe"
  CreateShortcut "$SMPROGRAMS\Talvesk\解除安裝 Talvesk.lnk" "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "Software\Talvesk" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Talvesk"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\talvesk.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what was installed, file by file: a folder the installer did not make keeps the rest.
Section "Uninstall"
  !define UNINSTALL_SECTION
  !include "${FILES}"
  !undef UNINSTALL_SECTION
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Talvesk\Talvesk.lnk"
  Delete "$SMPROGRAMS\Talvesk\解除安裝 Talvesk.lnk"
  RMDir "$SMPROGRAMS\Talvesk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Talvesk"
SectionEnd
