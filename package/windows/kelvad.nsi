; The Windows installer of Kelvad: kelvad.exe in Program Files, a Start-menu
; entry, and an uninstaller that Settings > Apps lists. Made by
; scripts/windows.sh with makensis:
;   makensis -DVERSION=1.0.0.1 -DEXE=path\kelvad.exe -DICON=path\kelvad.ico
;            -DOUTFILE=kelvad-1.0.0.1-setup.exe kelvad.nsi
Unicode true
; A 64-bit installer for a 64-bit program (and for a Wine without its 32-bit half).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "Kelvad"
!define COPYRIGHT "Copyright (c) 2026 The Kelvad developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvad"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "Software\${PRODUCT}" "InstallDir"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${COPYRIGHT}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Kelvad"
    SetRegView 64
    SetShellVarContext all  ; the Start-menu entry is every user's
    SetOutPath "$INSTDIR"
    File "/oname=kelvad.exe" "${EXE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; Settings are kept in kelvad.ini in the folder Kelvad starts in: the
    ; shortcut starts it in the user's documents, which the user may write.
    SetOutPath "$DOCUMENTS"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\kelvad.exe" "" "$INSTDIR\kelvad.exe" 0
    WriteRegStr HKLM "Software\${PRODUCT}" "InstallDir" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kelvad.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetRegView 64
    SetShellVarContext all
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$INSTDIR\kelvad.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "Software\${PRODUCT}"
SectionEnd
