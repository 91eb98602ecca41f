; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer of Brimtale (NSIS 3). scripts/windows.sh makes it:
;   makensis -DVERSION=1.6 -DSTAGE=<folder with the program's files> -DOUTFILE=<setup.exe> brimtale.nsi
; For this user (default) or, run as an administrator with /ALLUSERS, for all
; users. An installed program has no bmt.ini beside it and keeps its data in
; %APPDATA%\Brimtale, which the uninstaller leaves, as it leaves the downloads.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

Name "Brimtale ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Brimtale"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brimtale"

!insertmacro MUI_PAGE_LICENSE "${STAGE}/COPYING.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Polish"

Var AllUsers

Function .onInit
  StrCpy $AllUsers "0"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${IfNot} ${Errors}
    StrCpy $AllUsers "1"
    SetShellVarContext all
    ; A folder given with /D stays; only the per-user default moves.
    ${If} $INSTDIR == "$LOCALAPPDATA\Programs\Brimtale"
      StrCpy $INSTDIR "$PROGRAMFILES64\Brimtale"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Brimtale" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ; What the stage holds, except the portable folder's bmt.ini.
  File /r /x bmt.ini "${STAGE}/*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The list of what was installed, for the uninstaller.
  CreateDirectory "$SMPROGRAMS\Brimtale"
  ${If} ${FileExists} "$INSTDIR\brimtale.exe"
    CreateShortcut "$SMPROGRAMS\Brimtale\Brimtale.lnk" "$INSTDIR\brimtale.exe" "" "$INSTDIR\brimtale.exe" 0
  ${EndIf}
  CreateShortcut "$SMPROGRAMS\Brimtale\Brimtale (terminal).lnk" "$SYSDIR\cmd.exe" '/k "$INSTDIR\brimtale-cli.exe" --help' "$INSTDIR\brimtale-cli.exe" 0
  CreateShortcut "$SMPROGRAMS\Brimtale\Uninstall Brimtale.lnk" "$INSTDIR\uninstall.exe"
  ${If} $AllUsers == "1"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Brimtale ${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /ALLUSERS'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ${Else}
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Brimtale ${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ${EndIf}
SectionEnd

Section /o "Desktop shortcut" SecDesktop
  ${If} ${FileExists} "$INSTDIR\brimtale.exe"
    CreateShortcut "$DESKTOP\Brimtale.lnk" "$INSTDIR\brimtale.exe" "" "$INSTDIR\brimtale.exe" 0
  ${EndIf}
SectionEnd

Function un.onInit
  StrCpy $AllUsers "0"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${IfNot} ${Errors}
    StrCpy $AllUsers "1"
    SetShellVarContext all
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Only what the installer put there: the program's files (listed at build
  ; time), its shortcuts and its registry entry. %APPDATA%\Brimtale (settings,
  ; history, the user's profiles) and every download stay.
  !include "${STAGE}/../uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Brimtale\Brimtale.lnk"
  Delete "$SMPROGRAMS\Brimtale\Brimtale (terminal).lnk"
  Delete "$SMPROGRAMS\Brimtale\Uninstall Brimtale.lnk"
  RMDir "$SMPROGRAMS\Brimtale"
  Delete "$DESKTOP\Brimtale.lnk"
  ; Only this installation's entry: one for all users and one for this user
  ; may both be there.
  ${If} $AllUsers == "1"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${Else}
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
