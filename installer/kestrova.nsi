; Kestrova's Windows installer (NSIS 3). scripts/installer.sh stages the files (binaries
; stripped, texts with Windows line ends) and runs makensis with:
;   -DVERSION=1.31  -DSTAGE=<folder of the staged files>  -DOUTFILE=<the setup program>
;
; It installs into Program Files\Kestrova (the 32-bit Program Files on 64-bit Windows), makes
; Start menu shortcuts for all users (Kestrova's working folder is the install folder: the
; program looks for its manual in the folder it was started from), and registers an uninstaller.
; The ASPI bridge (our own wnaspi32.dll, beside kestrova.exe) is an optional part, ticked only
; when Windows has no wnaspi32.dll in its system folders: an installed ASPI layer is never
; replaced, and never hidden unless the user asks for it.
;
; The uninstaller removes only what Setup put there. The install folder goes only when it is
; empty afterwards: images the user made there (the default image file .\NewFile.iso lands in
; the working folder) are kept. The stored buffer size is removed only when the user says so;
; silent mode (/S) keeps it.

!ifndef VERSION | STAGE | OUTFILE
  !error "run scripts/installer.sh, which passes VERSION, STAGE and OUTFILE"
!endif

Unicode true
!ifdef STAND_IN_64
  ; The tests' stand-in where Wine runs only 64-bit code: the same installer, of the 64-bit
  ; build, into the 64-bit Program Files. What ships is the 32-bit one.
  Target amd64-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!define MANUAL "Kestrova v${VERSION}.pdf"
!define BRIDGE_README "ASPI bridge.txt"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrova"
; The program's own setting (string 4 of its resources); the value's name is string 5, which
; differs per language.
!define SETTINGS_KEY "SOFTWARE\Talvenor\Kestrova"
!define SETTINGS_VALUE_EN "IO buffer size"
!define SETTINGS_VALUE_FR "Buffer d'entrées sortie"

Name "Kestrova ${VERSION}"
OutFile "${OUTFILE}"
!ifdef STAND_IN_64
  InstallDir "$PROGRAMFILES64\Kestrova"
!else
  InstallDir "$PROGRAMFILES\Kestrova"
!endif
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show
BrandingText "Kestrova ${VERSION}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "Kestrova"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Kestrova ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "Talvenor"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) Talvenor"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

Var AspiLayerFound     ; 1: Windows has a wnaspi32.dll of its own
Var BridgeText         ; the bridge's description on the components page
Var BridgeInstalled    ; 1: this run put the bridge into the install folder

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "French"
!include "lang/english.nsh"
!include "lang/french.nsh"

; English or French, as the program chooses: French when the user's UI language is French.
!macro ChooseLanguage
  System::Call 'kernel32::GetUserDefaultUILanguage() i .r0'
  IntOp $0 $0 & 0x3FF
  ${If} $0 = 0x0C
    StrCpy $LANGUAGE ${LANG_FRENCH}
  ${Else}
    StrCpy $LANGUAGE ${LANG_ENGLISH}
  ${EndIf}
!macroend

; Program Files and HKLM need administrator rights (Windows 2000 and XP have no UAC to ask).
!macro RequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_OK|MB_ICONSTOP "$(NEED_ADMIN)" /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
!macroend

; The shortcuts under either language's names: an install in one language can be replaced or
; removed in the other.
!macro DeleteShortcuts
  Delete "$SMPROGRAMS\Kestrova\Kestrova.lnk"
  Delete "$SMPROGRAMS\Kestrova\${LNK_MANUAL_EN}.lnk"
  Delete "$SMPROGRAMS\Kestrova\${LNK_MANUAL_FR}.lnk"
  Delete "$SMPROGRAMS\Kestrova\${LNK_UNINSTALL_EN}.lnk"
  Delete "$SMPROGRAMS\Kestrova\${LNK_UNINSTALL_FR}.lnk"
!macroend

; $0 = 1 when the wnaspi32.dll of $INSTDIR is the bridge that an earlier install of ours put there.
!macro BridgeOfEarlierInstall
  ReadRegStr $1 HKLM "${UNINST_KEY}" "InstallLocation"
  ReadRegDWORD $0 HKLM "${UNINST_KEY}" "AspiBridge"
  ${If} $1 != $INSTDIR
    StrCpy $0 0
  ${EndIf}
  ${If} $0 == ""
    StrCpy $0 0
  ${EndIf}
!macroend

Section "$(SEC_PROGRAM)" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=kestrova.exe" "${STAGE}/kestrova.exe"
  File "/oname=acroread.exe" "${STAGE}/acroread.exe"
  File "/oname=${MANUAL}" "${STAGE}/${MANUAL}"
  File "/oname=README.txt" "${STAGE}/README.txt"
  File "/oname=LICENSE.txt" "${STAGE}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  !insertmacro DeleteShortcuts
  CreateDirectory "$SMPROGRAMS\Kestrova"
  ; A shortcut's working folder is the output folder at the time it is made.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\Kestrova\Kestrova.lnk" "$INSTDIR\kestrova.exe"
  CreateShortcut "$SMPROGRAMS\Kestrova\$(LNK_MANUAL).lnk" "$INSTDIR\${MANUAL}"
  CreateShortcut "$SMPROGRAMS\Kestrova\$(LNK_UNINSTALL).lnk" "$INSTDIR\uninstall.exe"
SectionEnd

Section "$(SEC_BRIDGE)" SecBridge
  !insertmacro BridgeOfEarlierInstall
  ${If} ${FileExists} "$INSTDIR\wnaspi32.dll"
  ${AndIf} $0 <> 1
    ; Someone else's ASPI layer already sits beside kestrova.exe: never replaced.
    DetailPrint "$(BRIDGE_OTHER_LAYER)"
  ${Else}
    SetOutPath "$INSTDIR"
    File "/oname=wnaspi32.dll" "${STAGE}/wnaspi32.dll"
    File "/oname=${BRIDGE_README}" "${STAGE}/${BRIDGE_README}"
    StrCpy $BridgeInstalled 1
  ${EndIf}
SectionEnd

Section "-Register"
  !insertmacro BridgeOfEarlierInstall
  ${If} $BridgeInstalled != 1
    StrCpy $BridgeInstalled 0
    ${If} $0 = 1
      ; The bridge of an earlier install, no longer wanted.
      Delete "$INSTDIR\wnaspi32.dll"
      Delete "$INSTDIR\${BRIDGE_README}"
    ${EndIf}
  ${EndIf}

  ; The size of what was installed, in KB.
  SectionGetSize ${SecProgram} $2
  ${If} $BridgeInstalled = 1
    SectionGetSize ${SecBridge} $3
    IntOp $2 $2 + $3
  ${EndIf}
  ${GetSize} "$INSTDIR" "/M=uninstall.exe /S=0K /G=0" $3 $4 $5
  IntOp $2 $2 + $3

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Kestrova ${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Talvenor"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\kestrova.exe,0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $2
  WriteRegDWORD HKLM "${UNINST_KEY}" "AspiBridge" $BridgeInstalled
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "$(DESC_PROGRAM)"
  !insertmacro MUI_DESCRIPTION_TEXT ${SecBridge} $BridgeText
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  !insertmacro ChooseLanguage
  !insertmacro RequireAdmin
  ; The system folders a 32-bit program loads wnaspi32.dll from ($SYSDIR is SysWOW64 for this
  ; 32-bit installer on 64-bit Windows).
  StrCpy $AspiLayerFound 0
  ${If} ${FileExists} "$SYSDIR\wnaspi32.dll"
  ${OrIf} ${FileExists} "$WINDIR\wnaspi32.dll"
    StrCpy $AspiLayerFound 1
  ${EndIf}
  ${If} $AspiLayerFound = 1
    !insertmacro UnselectSection ${SecBridge}
    StrCpy $BridgeText "$(DESC_BRIDGE_LAYER_FOUND)"
  ${Else}
    !insertmacro SelectSection ${SecBridge}
    StrCpy $BridgeText "$(DESC_BRIDGE)"
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro ChooseLanguage
  !insertmacro RequireAdmin
FunctionEnd

Section "Uninstall"
  ReadRegDWORD $0 HKLM "${UNINST_KEY}" "AspiBridge"
  Delete "$INSTDIR\kestrova.exe"
  Delete "$INSTDIR\acroread.exe"
  Delete "$INSTDIR\${MANUAL}"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  ${If} $0 = 1
    Delete "$INSTDIR\wnaspi32.dll"
    Delete "$INSTDIR\${BRIDGE_README}"
  ${EndIf}
  Delete "$INSTDIR\uninstall.exe"
  ; Never recursive: what the user keeps there stays.
  RMDir "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\*.*"
    DetailPrint "$(UN_FOLDER_KEPT)"
  ${EndIf}

  SetShellVarContext all
  !insertmacro DeleteShortcuts
  RMDir "$SMPROGRAMS\Kestrova"

  ; The stored buffer size: asked for; kept in silent mode.
  ClearErrors
  EnumRegValue $1 HKLM "${SETTINGS_KEY}" 0
  ${IfNot} ${Errors}
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(UN_ASK_SETTING)" /SD IDNO IDNO keep_setting
    DeleteRegValue HKLM "${SETTINGS_KEY}" "${SETTINGS_VALUE_EN}"
    DeleteRegValue HKLM "${SETTINGS_KEY}" "${SETTINGS_VALUE_FR}"
    DeleteRegKey /ifempty HKLM "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKLM "SOFTWARE\Talvenor"
    keep_setting:
  ${EndIf}

  ; Last: until the uninstall has run through, the entry stays in the list of programs.
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
