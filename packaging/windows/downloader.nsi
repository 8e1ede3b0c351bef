; The Windows setup program: a per-machine install of the four programs, the examples and
; a README into Program Files\Downloader, a Start-menu shortcut to the loader, and an
; uninstaller under "Apps and features" that removes exactly what was installed.
; Silent: setup.exe /S [/D=FOLDER]; uninstall.exe /S.
;
; Made by scripts/package windows, which gives:
;   VERSION         1.7.0
;   STAGE           the folder holding the files to install
;   FILES           an include file of File lines, one folder at a time (made from STAGE)
;   REMOVE          an include file of the Delete and RMDir lines that undo them
;   ESTIMATED_SIZE  the installed size in KiB
;   OUTFILE         the setup program to write

Unicode true
; wine64 and 64-bit Windows run the installer as a 64-bit program: the registry and
; Program Files are the 64-bit ones, with no redirection.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Downloader"
!define PUBLISHER "Downloader developers"

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

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Downloader"
  SetShellVarContext all
  !include "${FILES}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Downloader.lnk" "$INSTDIR\downloader.exe" "" \
    "$INSTDIR\downloader.exe" 0 SW_SHOWNORMAL "" "Write an object code image into a module"

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

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Downloader.lnk"
  !include "${REMOVE}"
  ; A running uninstaller (started with _?=) cannot remove itself on Windows: it and its
  ; folder go at the next restart.
  Delete /REBOOTOK "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
