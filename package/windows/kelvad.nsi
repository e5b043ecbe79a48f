; The Windows installer of Kelvad: kelvad.exe, a Start-menu entry and an
; uninstaller that Settings > Apps lists, for the user who runs it, with no
; administrator's rights: each user keeps an own kelvad.ini, in %APPDATA%\Kelvad. Made by
; scripts/windows.sh with makensis:
;   makensis -DVERSION=1.0.0.1 -DEXE=path\kelvad.exe -DICON=path\kelvad.ico
;            -DOUTFILE=kelvad-1.0.0.1-setup.exe kelvad.nsi
Unicode true
; A 64-bit installer for a 64-bit program (and for a Wine without its 32-bit half).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define PRODUCT "Kelvad"
!define COPYRIGHT "Copyright (c) 2026 The Kelvad developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvad"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "Software\${PRODUCT}" "InstallDir"
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
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "/oname=kelvad.exe" "${EXE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; Settings are kept in %APPDATA%\Kelvad\kelvad.ini, unless the folder
    ; Kelvad starts in holds a kelvad.ini. The shortcut starts it in the
    ; user's own documents, where earlier versions kept theirs: that one moves
    ; to its new place, unless one is there already.
    IfFileExists "$APPDATA\${PRODUCT}\kelvad.ini" settings_placed
    IfFileExists "$DOCUMENTS\kelvad.ini" 0 settings_placed
        CreateDirectory "$APPDATA\${PRODUCT}"
        Rename "$DOCUMENTS\kelvad.ini" "$APPDATA\${PRODUCT}\kelvad.ini"
    settings_placed:
    SetOutPath "$DOCUMENTS"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\kelvad.exe" "" "$INSTDIR\kelvad.exe" 0
    WriteRegStr HKCU "Software\${PRODUCT}" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kelvad.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetRegView 64
    SetShellVarContext current
    ; A running Kelvad holds its program file: nothing is removed until it ends.
    ClearErrors
    Delete "$INSTDIR\kelvad.exe"
    IfErrors 0 removed
        MessageBox MB_OK|MB_ICONSTOP "Kelvad is still running. Close it, then uninstall it again." /SD IDOK
        Abort
    removed:
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "Software\${PRODUCT}"
SectionEnd
