; SPDX-License-Identifier: MIT
; The pidtune installer for Windows, built on Debian by scripts/windows.sh with makensis:
;   makensis -DVERSION=1.0.0 -DSOURCE=<portable folder> -DFILES=<its list> -DOUTFILE=<setup.exe>
;            -DICON=<.ico> -DLICENCE=<licence page> pidtune.nsi
; It installs for the current user, without administrator rights (a bench PC often has none):
; the programs in %LOCALAPPDATA%\Programs\pidtune, Start-menu entries whose working folder is
; Documents\pidtune, where the user keeps Settings.ini (the example is put there unless the
; folder has one), and an uninstaller that removes what it installed and nothing else.
; A 64-bit installer for 64-bit programs: a 64-bit Windows (or Wine without its 32-bit half)
; runs it as it is.
Target amd64-unicode
; zlib: a few megabytes larger than LZMA and made ten times as fast, in every CI run.
SetCompressor /SOLID zlib
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"

Name "pidtune ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\pidtune"
InstallDirRegKey HKCU "Software\pidtune" "InstallDir"
BrandingText "pidtune ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "pidtune"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "pidtune ${VERSION} setup"
VIAddVersionKey "CompanyName" "pidtune developers"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 pidtune developers, MIT licence"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\pidtune"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\pidtune.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start pidtune"
!define MUI_FINISHPAGE_SHOWREADME "$DOCUMENTS\pidtune"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Open the folder for Settings.ini (Documents\pidtune)"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENCE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

; The files and folders, named one by one so that the uninstaller removes exactly these: the
; list (FILES, made by scripts/windows.sh from the portable folder) defines the macros
; PidtuneFolders (each after the one it is in), PidtuneFoldersInnermostFirst and PidtuneFiles.
!include "${FILES}"
!macro Install file
    File "/oname=${file}" "${SOURCE}\${file}"
!macroend
!macro Remove file
    Delete "$INSTDIR\${file}"
!macroend
!macro MakeFolder folder
    CreateDirectory "$INSTDIR\${folder}"
!macroend
!macro RemoveFolder folder
    RMDir "$INSTDIR\${folder}"
!macroend

Section "pidtune"
    SetOutPath "$INSTDIR"
    !insertmacro PidtuneFolders MakeFolder
    !insertmacro PidtuneFiles Install

    ; The folder the Start-menu entries start in, with the example settings unless the user has
    ; settings there already.
    CreateDirectory "$DOCUMENTS\pidtune"
    IfFileExists "$DOCUMENTS\pidtune\Settings.ini" +2 0
        CopyFiles /SILENT "$INSTDIR\Settings.ini" "$DOCUMENTS\pidtune\Settings.ini"

    ; The shortcuts' working folder ("Start in") is the one SetOutPath names.
    SetOutPath "$DOCUMENTS\pidtune"
    CreateDirectory "$SMPROGRAMS\pidtune"
    CreateShortcut "$SMPROGRAMS\pidtune\pidtune.lnk" "$INSTDIR\pidtune.exe" "" \
        "$INSTDIR\pidtune.exe" 0 SW_SHOWNORMAL "" "Tune a device's controller parameters over a serial line"
    ; The scope and the monitor are named on a command line with their port: a command prompt
    ; in the settings folder with the programs on its path, that says how.
    CreateShortcut "$SMPROGRAMS\pidtune\pidtune-scope.lnk" "$SYSDIR\cmd.exe" \
        '/k "set "PATH=$INSTDIR;%PATH%" && pidtune-scope --help"' "$INSTDIR\pidtune-scope.exe" 0 \
        SW_SHOWNORMAL "" "Plot a device's telemetry and measure its steps (command prompt)"
    SetOutPath "$INSTDIR"

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKCU "Software\pidtune" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "pidtune ${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "pidtune developers"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\pidtune.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    !insertmacro PidtuneFiles Remove
    Delete "$INSTDIR\uninstall.exe"
    ; Only folders left empty: anything the user put there stays.
    !insertmacro PidtuneFoldersInnermostFirst RemoveFolder
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\pidtune\pidtune.lnk"
    Delete "$SMPROGRAMS\pidtune\pidtune-scope.lnk"
    RMDir "$SMPROGRAMS\pidtune"
    ; Documents\pidtune holds the user's own Settings.ini: it is theirs, and stays.
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "Software\pidtune"
SectionEnd
