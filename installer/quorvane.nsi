; quorvane.nsi - QuorvaneSetup-<version>.exe: the driver of both bitnesses,
; the recorder, the firmware loader Kestrel, their help pages and licence
; texts, the device simulator and, optionally, the SDK for host developers.
;
; Built by scripts/dist.sh (make dist) with makensis; the defines name the
; two Windows build folders and the staged SDK:
;   VERSION     5.4.5
;   ROOT        the source tree
;   WIN32_DIR   build/win32 (QuorvaneDrv.dll, Kestrel.exe, the 32-bit recorder and simulator)
;   WIN64_DIR   build/win64 (QuorvaneDrv64.dll, the 64-bit recorder and simulator)
;   SDK_DIR     the SDK as it is zipped
;   SDK_FILES   sdk-files.nsh: the SDK's files as two macros (InstallSdkFiles,
;               RemoveSdkFiles), made by dist.sh from SDK_DIR
;   OUTFILE     the installer to write
;
; Command line: /S installs silently, /D=FOLDER names the folder (last, no
; quotes), /SDK selects the SDK component. Exit codes: 0 installed,
; 1 cancelled, 2 refused (a folder that cannot be written, or one outside
; Program Files whose rights cannot be made safe).
;
; The installer is a 32-bit program. On 64-bit Windows it installs into the
; 64-bit Program Files, registers in the 64-bit registry view and installs
; the 64-bit recorder and simulator; on 32-bit Windows their 32-bit builds.
; Both drivers are installed everywhere, for host programs of either
; bitness.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh
!include "${SDK_FILES}"

!define PRODUCT "Quorvane"
!define PUBLISHER "Quorvane Systems"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"
!define UNINSTALLER "Uninstall.exe"
!define MENU_FOLDER "$SMPROGRAMS\Quorvane"
!define DOCS "${ROOT}/API/driver/ui/docs"
!define WRITE_PROBE ".quorvane-setup-probe"
; The rights of an installation folder outside Program Files (see
; SecureFolder): owned by the administrators; SYSTEM and the administrators
; have full control, users may read and run; nothing inherited.
!define FOLDER_RIGHTS "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
; SetNamedSecurityInfo: a file object; owner, DACL and a protected DACL.
!define SE_FILE_OBJECT 1
!define OWNER_DACL_PROTECTED 0x80000005

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quorvane"
BrandingText "${PUBLISHER}"
AllowSkipFiles off
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!define MUI_ICON "${ROOT}/tools/recorder/win32/recorder.ico"
!define MUI_UNICON "${NSISDIR}/Contrib/Graphics/Icons/modern-uninstall.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_WELCOMEPAGE_TEXT "This installs the ${PRODUCT} ${VERSION} software of ${PUBLISHER}:$\r$\n$\r$\n\
- the Quorvane Recorder, which records Halvex and Brev devices into EDF or text files,$\r$\n\
- the acquisition driver for host programs (32-bit and 64-bit),$\r$\n\
- the firmware loader Kestrel,$\r$\n\
- a simulated device to try the recorder without one,$\r$\n\
- optionally the SDK for developers of host programs.$\r$\n$\r$\n\
$_CLICK"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${DOCS}/Quorvane_Driver_EULA.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var previousDir   ; folder of an installation found at the start, or ""
Var writing       ; "1" once files are being written

; ---------------------------------------------------------------------------
; What is installed, and its removal (used by the uninstaller, and after a
; failed first installation)
; ---------------------------------------------------------------------------

!macro RemoveInstalledFiles
    SetShellVarContext all
    Delete "$INSTDIR\QuorvaneDrv.dll"
    Delete "$INSTDIR\QuorvaneDrv64.dll"
    Delete "$INSTDIR\QuorvaneRecorder.exe"
    Delete "$INSTDIR\Kestrel.exe"
    Delete "$INSTDIR\kestrel.htm"
    Delete "$INSTDIR\Quorvane_Driver_Dev_Win.htm"
    Delete "$INSTDIR\Quorvane_Driver_EULA.txt"
    Delete "$INSTDIR\Quorvane_Recorder.htm"
    Delete "$INSTDIR\Quorvane_Recorder_EULA.txt"
    Delete "$INSTDIR\sim\FTD2XX.dll"
    Delete "$INSTDIR\sim\BluetoothAPIs.dll"
    RMDir "$INSTDIR\sim"
    !insertmacro RemoveSdkFiles
    Delete "${MENU_FOLDER}\Quorvane Recorder.lnk"
    Delete "${MENU_FOLDER}\Quorvane Recorder (simulated devices).lnk"
    Delete "${MENU_FOLDER}\Kestrel Firmware Loader.lnk"
    RMDir "${MENU_FOLDER}"
    DeleteRegKey HKLM "${UNINST_KEY}"
    Delete "$INSTDIR\${UNINSTALLER}"
    ; The folder goes only when nothing of the user's is left in it.
    RMDir "$INSTDIR"
!macroend

; Both views of the registry and of the system folder are those of the
; system's own bitness.
!macro UseSystemViews
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
!macroend

; ---------------------------------------------------------------------------
; Sections
; ---------------------------------------------------------------------------

Section "Recorder, driver and firmware loader" SecMain
    SectionIn RO
    Call CheckFolderWritable
    Push $INSTDIR
    Call SecureFolder
    Call RemovePreviousInstallation
    StrCpy $writing "1"
    SetOutPath "$INSTDIR"
    File "${WIN32_DIR}/QuorvaneDrv.dll"
    File "${WIN64_DIR}/QuorvaneDrv64.dll"
    File "${WIN32_DIR}/Kestrel.exe"
    File "${WIN32_DIR}/kestrel.htm"
    File "${DOCS}/Quorvane_Driver_Dev_Win.htm"
    File "${DOCS}/Quorvane_Driver_EULA.txt"
    File "${DOCS}/Quorvane_Recorder.htm"
    File "${DOCS}/Quorvane_Recorder_EULA.txt"
    ${If} ${RunningX64}
        File "${WIN64_DIR}/QuorvaneRecorder.exe"
    ${Else}
        File "${WIN32_DIR}/QuorvaneRecorder.exe"
    ${EndIf}
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    Call WriteUninstallKey
    SetShellVarContext all
    CreateDirectory "${MENU_FOLDER}"
    CreateShortCut "${MENU_FOLDER}\Quorvane Recorder.lnk" "$INSTDIR\QuorvaneRecorder.exe"
    CreateShortCut "${MENU_FOLDER}\Kestrel Firmware Loader.lnk" "$INSTDIR\Kestrel.exe"
    Call CheckD2xx
SectionEnd

Section "Device simulator" SecSim
    SetOutPath "$INSTDIR\sim"
    ${If} ${RunningX64}
        File "${WIN64_DIR}/sim/FTD2XX.dll"
        File "${WIN64_DIR}/sim/BluetoothAPIs.dll"
    ${Else}
        File "${WIN32_DIR}/sim/FTD2XX.dll"
        File "${WIN32_DIR}/sim/BluetoothAPIs.dll"
    ${EndIf}
    SetOutPath "$INSTDIR"
    SetShellVarContext all
    CreateShortCut "${MENU_FOLDER}\Quorvane Recorder (simulated devices).lnk" "$INSTDIR\QuorvaneRecorder.exe" \
        "--simulate"
SectionEnd

Section /o "SDK for host developers" SecSdk
    !insertmacro InstallSdkFiles
    SetOutPath "$INSTDIR"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} "Quorvane Recorder, the driver QuorvaneDrv.dll and \
        QuorvaneDrv64.dll, the firmware loader Kestrel, their help pages and licence texts."
    !insertmacro MUI_DESCRIPTION_TEXT ${SecSim} "A simulated device behind a stand-in of the FTDI library, \
        used only by the Start menu's $\"Quorvane Recorder (simulated devices)$\"."
    !insertmacro MUI_DESCRIPTION_TEXT ${SecSdk} "The header, import libraries for Visual Studio and MinGW, \
        an example host program and the API reference, in the folder SDK."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; ---------------------------------------------------------------------------
; Steps of the installation
; ---------------------------------------------------------------------------

; A folder that cannot be written (read-only, no right to write) ends the
; installation before anything is written; a folder made for the test goes
; again.
Function CheckFolderWritable
    StrCpy $0 "new"
    IfFileExists "$INSTDIR\*.*" 0 +2
        StrCpy $0 "existing"
    ClearErrors
    CreateDirectory "$INSTDIR"
    FileOpen $1 "$INSTDIR\${WRITE_PROBE}" w
    ${IfNot} ${Errors}
        FileClose $1
        Delete "$INSTDIR\${WRITE_PROBE}"
        Return
    ${EndIf}
    ${If} $0 == "new"
        RMDir "$INSTDIR"
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "Setup cannot write to the folder$\r$\n$INSTDIR$\r$\n$\r$\nThe folder is \
        read-only, or you have no right to write there. Nothing has been installed; choose another \
        folder." /SD IDOK
    DetailPrint "Cannot write to $INSTDIR: nothing installed."
    SetErrorLevel 2
    Abort
FunctionEnd

; A folder outside Program Files inherits the rights of the folder above it,
; where other users may be allowed to write: they could then replace the
; DLLs, or the uninstaller that the next (elevated) setup runs. Such a
; folder (the one on the stack) gets rights of its own (FOLDER_RIGHTS), which
; its files inherit; when that fails, nothing is installed. Program Files
; and its folders have these rights already.
Function SecureFolder
    Exch $0
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    StrLen $1 "$PROGRAMFILES64\"
    StrCpy $2 "$0\" $1
    StrLen $1 "$PROGRAMFILES\"
    StrCpy $3 "$0\" $1
    ${If} $2 == "$PROGRAMFILES64\"
    ${OrIf} $3 == "$PROGRAMFILES\"
        Goto done
    ${EndIf}
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${FOLDER_RIGHTS}", i 1, \
        *p .r1, p 0) i .r2'
    StrCpy $5 "the rights could not be formed"
    ${If} $2 != 0
        System::Call 'advapi32::GetSecurityDescriptorOwner(p r1, *p .r3, *i .r2) i .r2'
        System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r2, *p .r4, *i .r2) i .r2'
        System::Call 'advapi32::SetNamedSecurityInfoW(w r0, i ${SE_FILE_OBJECT}, i ${OWNER_DACL_PROTECTED}, p r3, \
            p 0, p r4, p 0) i .r5'
        System::Call 'kernel32::LocalFree(p r1)'
    ${EndIf}
    ${If} $5 == 0
        DetailPrint "Rights of $0: administrators and SYSTEM full control, users read and run."
        Goto done
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "Setup cannot set the rights of the folder$\r$\n$0$\r$\n$\r$\nA folder \
        outside Program Files must be one that only administrators can change ($5). Nothing has been \
        installed; choose another folder." /SD IDOK
    DetailPrint "Cannot set the rights of $0 ($5): nothing installed."
    SetErrorLevel 2
    Abort
done:
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; An installation found at the start (an older version, or the same one) is
; uninstalled first by its own uninstaller, wherever it is: one copy of the
; files, one uninstaller and one Uninstall entry remain, and the user's
; files stay. Its folder gets safe rights first (SecureFolder), and the
; uninstaller runs as a copy in the setup's own temporary folder (_? names
; the folder it removes), so nothing in that folder runs from there while it
; is being removed.
Function RemovePreviousInstallation
    ${If} $previousDir == ""
    ${OrIfNot} ${FileExists} "$previousDir\${UNINSTALLER}"
        Return
    ${EndIf}
    Push $previousDir
    Call SecureFolder
    DetailPrint "Removing the installation in $previousDir"
    InitPluginsDir
    CopyFiles /SILENT "$previousDir\${UNINSTALLER}" "$PLUGINSDIR\previous-${UNINSTALLER}"
    ExecWait '"$PLUGINSDIR\previous-${UNINSTALLER}" /S _?=$previousDir' $0
    Delete "$PLUGINSDIR\previous-${UNINSTALLER}"
    Delete "$previousDir\${UNINSTALLER}"
    RMDir "$previousDir"
FunctionEnd

Function WriteUninstallKey
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\QuorvaneRecorder.exe"
    WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
FunctionEnd

; FTD2XX.dll belongs to the FTDI transceiver's driver package. Without it
; the recorder, Kestrel and host programs cannot reach a USB transceiver;
; the installation goes on and says where it comes from.
Function CheckD2xx
    StrCpy $0 ""
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
        ${IfNot} ${FileExists} "$WINDIR\System32\FTD2XX.dll"
            StrCpy $0 "64-bit"
        ${EndIf}
        ${EnableX64FSRedirection}
    ${EndIf}
    ${IfNot} ${FileExists} "$SYSDIR\FTD2XX.dll"
        ${If} $0 == ""
            StrCpy $0 "32-bit"
        ${Else}
            StrCpy $0 "64-bit and 32-bit"
        ${EndIf}
    ${EndIf}
    ${If} $0 == ""
        Return
    ${EndIf}
    StrCpy $1 "FTD2XX.dll ($0), the FTDI D2XX library, was not found on this computer. The recorder, Kestrel \
        and host programs need it to reach a device through its USB transceiver.$\r$\n$\r$\nIt is not part of \
        this package: it comes with the driver package of the FTDI USB transceiver (the FTDI D2XX driver, \
        which Windows installs when the transceiver is plugged in, or from FTDI's web site). Install that \
        package before recording from a device.$\r$\n$\r$\nThe installation goes on. To try the recorder \
        without a device, start $\"Quorvane Recorder (simulated devices)$\" from the Start menu."
    DetailPrint "FTD2XX.dll ($0) not found: it comes with the FTDI transceiver's driver package."
    MessageBox MB_OK|MB_ICONINFORMATION "$1" /SD IDOK
FunctionEnd

; ---------------------------------------------------------------------------
; Callbacks
; ---------------------------------------------------------------------------

Function .onInit
    !insertmacro UseSystemViews
    ReadRegStr $previousDir HKLM "${UNINST_KEY}" "InstallLocation"
    ; An update goes where the installation is, unless /D names a folder.
    ${If} $previousDir != ""
    ${AndIf} $INSTDIR == "$PROGRAMFILES64\Quorvane"
        StrCpy $INSTDIR $previousDir
    ${EndIf}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/SDK" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${SecSdk} ${SF_SELECTED}
    ${EndIf}
FunctionEnd

; An installation that failed while writing (a file in use, a full disk)
; leaves nothing behind; an earlier installation is gone already by then.
Function .onInstFailed
    ${If} $writing == "1"
        !insertmacro RemoveInstalledFiles
    ${EndIf}
FunctionEnd

Function un.onInit
    !insertmacro UseSystemViews
FunctionEnd

Section "Uninstall"
    !insertmacro RemoveInstalledFiles
SectionEnd
