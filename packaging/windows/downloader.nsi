; The Windows setup program: a per-machine install of the programs, the examples and a README
; into Program Files\Downloader; Start-menu entries for the loader, a command prompt with the
; programs on its PATH, and the README; "Open with Downloader" for .obj files; optionally
; the install folder on the user's PATH; and an uninstaller under "Apps and features" that
; removes exactly what was installed.
; Silent: setup.exe /S [/AddToPath] [/D=FOLDER]; uninstall.exe /S.
;
; Programs of the install folder that still run are ended first, after asking (silent: at
; once); one that cannot be ended stops the setup or the uninstaller before anything is
; changed, with exit status 3.
;
; Made by scripts/package windows, which gives:
;   VERSION         1.7.0
;   STAGE           the folder holding the files to install
;   FILES           an include file of File lines, one folder at a time (made from STAGE)
;   REMOVE          an include file of the Delete and RMDir lines that undo them
;   ESTIMATED_SIZE  the installed size in KiB
;   ICON            the product icon
;   HELPER          setup-helper.exe, carried inside and run from the temporary folder
;   PROMPT          downloader-prompt.cmd, which the Start menu's command prompt runs
;   OUTFILE         the setup program to write

Unicode true
; wine64 and 64-bit Windows run the installer as a 64-bit program: the registry and
; Program Files are the 64-bit ones, with no redirection.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Downloader"
!define PUBLISHER "Downloader developers"
!define PROGID "Downloader.ObjectFile"
!define CLASSES "Software\Classes"
; The exit status when a program of the install folder could not be ended.
!define STILL_RUNNING 3

Name "Downloader ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Downloader"
; An update goes where the last install went.
InstallDirRegKey HKLM "${KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Downloader"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Downloader ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright 2025 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!define MUI_WELCOMEPAGE_TEXT "This installs Downloader ${VERSION}, which writes object code \
images into Korvanetics modules over serial ports: the loader, downloader-station, \
module-emulator and objtool, with example images and a README.$\r$\n$\r$\nThe Start menu \
gets Downloader, Downloader Command Prompt and Downloader README.$\r$\n$\r$\nClick Next to \
continue."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CloseRunningPrograms
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Open the README"
!insertmacro MUI_PAGE_FINISH

!define MUI_PAGE_CUSTOMFUNCTION_LEAVE un.CloseRunningPrograms
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; The programs running from the install folder: asks to end them (silent: ends them) and
; stops with STILL_RUNNING, changing nothing, while any is left. Used by the setup program
; (an update replaces the files) and the uninstaller (which removes them).
!macro EXTRACT_HELPER
  InitPluginsDir
  File "/oname=$PLUGINSDIR\setup-helper.exe" "${HELPER}"
!macroend

!macro CLOSE_RUNNING_PROGRAMS
  !insertmacro EXTRACT_HELPER
  ; Not this program itself: an uninstaller started with _?= runs from the install folder.
  System::Call 'kernel32::GetCurrentProcessId() i .r2'
  ${Do}
    nsExec::ExecToStack '"$PLUGINSDIR\setup-helper.exe" running "$INSTDIR" $2'
    Pop $0
    Pop $1
    ${If} $0 != 1
      ${Break}
    ${EndIf}
    ${IfNot} ${Silent}
      MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "These programs of Downloader are running \
from $INSTDIR:$\r$\n$\r$\n$1$\r$\nClose them, or choose OK to end them now. Cancel changes \
nothing." IDOK +2
      Abort
    ${EndIf}
    nsExec::ExecToStack '"$PLUGINSDIR\setup-helper.exe" end "$INSTDIR" $2'
    Pop $0
    Pop $1
    ${If} $0 == 1
    ${AndIf} ${Silent}
      DetailPrint "Still running from $INSTDIR: $1"
      SetErrorLevel ${STILL_RUNNING}
      Quit
    ${EndIf}
  ${Loop}
!macroend

Function CloseRunningPrograms
  !insertmacro CLOSE_RUNNING_PROGRAMS
FunctionEnd

Function un.CloseRunningPrograms
  !insertmacro CLOSE_RUNNING_PROGRAMS
FunctionEnd

Section "Downloader" SectionDownloader
  SectionIn RO
  SetShellVarContext all
  ; Pages are skipped when silent: the running programs are looked for here.
  ${If} ${Silent}
    Call CloseRunningPrograms
  ${EndIf}
  !include "${FILES}"
  SetOutPath "$INSTDIR"
  File "/oname=downloader-prompt.cmd" "${PROMPT}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\Downloader.lnk" "$INSTDIR\downloader.exe" "" \
    "$INSTDIR\downloader.exe" 0 SW_SHOWNORMAL "" "Write an object code image into a module"
  CreateShortcut "$SMPROGRAMS\Downloader Command Prompt.lnk" "$SYSDIR\cmd.exe" \
    '/k "$INSTDIR\downloader-prompt.cmd"' "$INSTDIR\downloader.exe" 0 SW_SHOWNORMAL "" \
    "A command prompt in the Downloader folder, its programs on the PATH"
  CreateShortcut "$SMPROGRAMS\Downloader README.lnk" "$INSTDIR\README.txt" "" "" 0 \
    SW_SHOWNORMAL "" "How to use Downloader"

  ; "Open with Downloader" for .obj files, beside whatever opens them by default.
  WriteRegStr HKLM "${CLASSES}\${PROGID}" "" "Object code image"
  WriteRegStr HKLM "${CLASSES}\${PROGID}" "FriendlyTypeName" "Object code image"
  WriteRegStr HKLM "${CLASSES}\${PROGID}\DefaultIcon" "" '"$INSTDIR\downloader.exe",0'
  WriteRegStr HKLM "${CLASSES}\${PROGID}\shell\open" "" "Open with Downloader"
  WriteRegStr HKLM "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\downloader.exe" "%1"'
  WriteRegNone HKLM "${CLASSES}\.obj\OpenWithProgids" "${PROGID}"
  WriteRegStr HKLM "${CLASSES}\Applications\downloader.exe" "FriendlyAppName" "Downloader"
  WriteRegStr HKLM "${CLASSES}\Applications\downloader.exe\SupportedTypes" ".obj" ""
  WriteRegStr HKLM "${CLASSES}\Applications\downloader.exe\shell\open\command" "" \
    '"$INSTDIR\downloader.exe" "%1"'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  WriteRegStr HKLM "${KEY}" "DisplayName" "Downloader"
  WriteRegStr HKLM "${KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KEY}" "DisplayIcon" "$INSTDIR\downloader.exe"
  WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${KEY}" "EstimatedSize" ${ESTIMATED_SIZE}
  WriteRegDWORD HKLM "${KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KEY}" "NoRepair" 1
SectionEnd

Section /o "Add the install folder to my PATH" SectionPath
  ; So that any command prompt runs downloader, objtool ... by name.
  !insertmacro EXTRACT_HELPER
  nsExec::ExecToStack '"$PLUGINSDIR\setup-helper.exe" path-add "$INSTDIR"'
  Pop $0
  Pop $1
  ${If} $0 != 0
    DetailPrint "Could not add $INSTDIR to your PATH"
  ${EndIf}
SectionEnd

; setup.exe /AddToPath chooses the PATH option in a silent install too.
Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AddToPath" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SectionPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionDownloader} "The programs, the examples and the \
README, the Start-menu entries, and Open with Downloader for .obj files."
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionPath} "Every command prompt you open finds \
downloader, downloader-station, module-emulator and objtool by name. Removed again with \
Downloader."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Section "Uninstall"
  SetShellVarContext all
  ${If} ${Silent}
    Call un.CloseRunningPrograms
  ${EndIf}
  !insertmacro EXTRACT_HELPER
  nsExec::ExecToStack '"$PLUGINSDIR\setup-helper.exe" path-remove "$INSTDIR"'
  Pop $0
  Pop $1
  Delete "$SMPROGRAMS\Downloader.lnk"
  Delete "$SMPROGRAMS\Downloader Command Prompt.lnk"
  Delete "$SMPROGRAMS\Downloader README.lnk"

  DeleteRegValue HKLM "${CLASSES}\.obj\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKLM "${CLASSES}\.obj\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "${CLASSES}\.obj"
  DeleteRegKey HKLM "${CLASSES}\${PROGID}"
  DeleteRegKey HKLM "${CLASSES}\Applications\downloader.exe"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  Delete "$INSTDIR\downloader-prompt.cmd"
  !include "${REMOVE}"
  ; A running uninstaller (started with _?=) cannot remove itself on Windows: it and its
  ; folder go at the next restart.
  Delete /REBOOTOK "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
