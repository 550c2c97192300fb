; The Merovane installer: per user, no elevation.
;
;   makensis -DVERSION=1.2.3.4 -DSOURCE_DIR=<folder with Merovane.exe and
;            Language\> -DICON=<merovane.ico> -DOUTFILE=<installer path>
;            installer/merovane.nsi
;
; Switches, besides NSIS's own /S and /D=<folder>:
;   /SILENT             no questions, only the progress window
;   /SUPPRESSMSGBOXES   every message box takes its default answer
;   /CLOSEAPPLICATIONS  close a running Merovane as the Restart Manager does
;   /LANG=<name>        "English" or "Russian" pages; anything else: default
;   /MERGETASKS="runcmd1"  start Merovane when done
; The program's update passes the first five when it updates itself.

; Windows 11 is 64-bit only: a 64-bit installer, which also runs under a 64-bit-only Wine.
Target amd64-unicode
!ifndef VERSION
  !error "VERSION is required (-DVERSION=x.y.z.w)"
!endif
!ifndef SOURCE_DIR
  !error "SOURCE_DIR is required"
!endif
!ifndef OUTFILE
  !define OUTFILE "Merovane-setup.exe"
!endif

; SIGN_COMMAND (optional): a command that signs the file it is given in
; place; the uninstaller is signed before it is packed, the installer last.
!ifdef SIGN_COMMAND
  !uninstfinalize '"${SIGN_COMMAND}" "%1"' = 0
  !finalize '"${SIGN_COMMAND}" "%1"' = 0
!endif

!define APP "Merovane"
!define PUBLISHER "Merovane Developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define ENDSESSION_CLOSEAPP 0x00000001

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "WordFunc.nsh"

Name "${APP}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP}"
; An update goes where the copy it replaces was installed.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ShowInstDetails nevershow
ShowUninstDetails nevershow
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${APP}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${APP} installer"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

Var Quiet          ; /SILENT: no pages but the progress
Var NoBoxes        ; /SUPPRESSMSGBOXES
Var CloseApps      ; /CLOSEAPPLICATIONS
Var RunAfter       ; /MERGETASKS contains runcmd1

!ifndef ICON
  !define ICON "${SOURCE_DIR}\Merovane.ico"
!endif
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${APP}.exe"

!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipWhenQuiet
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipWhenQuiet
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipWhenQuiet
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Russian"

LangString MsgStillRunning ${LANG_ENGLISH} "${APP} is still running. Close it and try again."
LangString MsgStillRunning ${LANG_RUSSIAN} "${APP} всё ещё работает. Закройте программу и повторите попытку."
LangString MsgRemoveSettings ${LANG_ENGLISH} "Also remove your ${APP} settings?"
LangString MsgRemoveSettings ${LANG_RUSSIAN} "Удалить и ваши настройки ${APP}?"
LangString ShortcutDescription ${LANG_ENGLISH} "Show or hide notification-area icons"
LangString ShortcutDescription ${LANG_RUSSIAN} "Показ и скрытие значков области уведомлений"

Function .onInit
  ${GetParameters} $R0
  StrCpy $Quiet 0
  StrCpy $NoBoxes 0
  StrCpy $CloseApps 0
  StrCpy $RunAfter 0
  ClearErrors
  ${GetOptions} $R0 "/SILENT" $R1
  ${IfNot} ${Errors}
    StrCpy $Quiet 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/SUPPRESSMSGBOXES" $R1
  ${IfNot} ${Errors}
    StrCpy $NoBoxes 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/CLOSEAPPLICATIONS" $R1
  ${IfNot} ${Errors}
    StrCpy $CloseApps 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/MERGETASKS=" $R1
  ${IfNot} ${Errors}
    ${WordFind} '$R1' "runcmd1" "E#" $R2
    ${IfNot} ${Errors}
      StrCpy $RunAfter 1
    ${EndIf}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/LANG=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == "English"
      StrCpy $LANGUAGE ${LANG_ENGLISH}
    ${ElseIf} $R1 == "Russian"
      StrCpy $LANGUAGE ${LANG_RUSSIAN}
    ${EndIf}
  ${EndIf}
  ${If} ${Silent}
    StrCpy $Quiet 1
    StrCpy $NoBoxes 1
  ${EndIf}
  ${If} $Quiet == 1
    SetAutoClose true
  ${EndIf}
FunctionEnd

Function SkipWhenQuiet
  ${If} $Quiet == 1
    Abort
  ${EndIf}
FunctionEnd

; The running copy's main window: class TForm1 with the property the program
; sets, since other programs' windows may have that class too. $0 = handle or 0.
Function FindRunningCopy
  StrCpy $0 0
  FindWindow $1 "TForm1" ""
  ${DoWhile} $1 != 0
    System::Call 'user32::GetPropW(p r1, w "Merovane.MainWindow") p .r2'
    ${If} $2 != 0
      StrCpy $0 $1
      ${Break}
    ${EndIf}
    FindWindow $1 "TForm1" "" "" $1
  ${Loop}
FunctionEnd

; Closes a running copy when asked to, then waits until the program file can
; be replaced. Gives up after about 30 seconds rather than overwrite a running
; program: the installation then fails and changes nothing.
Function CloseRunningCopy
  ${If} $CloseApps == 1
    Call FindRunningCopy
    ${If} $0 != 0
      System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r3)'
      SendMessage $0 ${WM_QUERYENDSESSION} 0 ${ENDSESSION_CLOSEAPP} $4 /TIMEOUT=5000
      SendMessage $0 ${WM_ENDSESSION} 1 ${ENDSESSION_CLOSEAPP} $4 /TIMEOUT=5000
    ${EndIf}
  ${EndIf}
  ${IfNot} ${FileExists} "$INSTDIR\${APP}.exe"
    Return
  ${EndIf}
  StrCpy $5 0
  ${Do}
    ClearErrors
    FileOpen $6 "$INSTDIR\${APP}.exe" a
    ${IfNot} ${Errors}
      FileClose $6
      Return
    ${EndIf}
    IntOp $5 $5 + 1
    ${If} $5 > 60
      ${If} $NoBoxes == 0
        MessageBox MB_OK|MB_ICONSTOP "$(MsgStillRunning)" /SD IDOK
      ${EndIf}
      SetErrorLevel 5
      Quit
    ${EndIf}
    Sleep 500
  ${Loop}
FunctionEnd

; The language files, by name: the uninstaller removes exactly these, never
; a file of the user's beside them. The installer test checks that every file
; of Language\ is here.
!macro LanguageFiles DO
  !insertmacro ${DO} "English.ini"
  !insertmacro ${DO} "German.ini"
  !insertmacro ${DO} "Ukrainian.ini"
!macroend
!macro InstallLanguageFile NAME
  File "${SOURCE_DIR}\Language\${NAME}"
!macroend
!macro DeleteLanguageFile NAME
  Delete "$INSTDIR\Language\${NAME}"
!macroend

Section "Install"
  Call CloseRunningCopy
  SetOutPath "$INSTDIR"
  File "${SOURCE_DIR}\${APP}.exe"
  SetOutPath "$INSTDIR\Language"
  !insertmacro LanguageFiles InstallLanguageFile
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\${APP}.exe" "" "$INSTDIR\${APP}.exe" 0 SW_SHOWNORMAL "" "$(ShortcutDescription)"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${APP}.exe",0'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"

  ${If} $RunAfter == 1
    Exec '"$INSTDIR\${APP}.exe"'
  ${EndIf}
SectionEnd

Function un.onInit
  ${If} ${Silent}
    SetAutoClose true
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; What the program added to the system: its Run value and its old task.
  DeleteRegValue HKCU "${RUN_KEY}" "${APP}"
  nsExec::Exec '"$SYSDIR\schtasks.exe" /delete /tn "${APP}" /f'
  Pop $0

  Delete "$SMPROGRAMS\${APP}.lnk"
  Delete "$INSTDIR\${APP}.exe"
  !insertmacro LanguageFiles DeleteLanguageFile
  RMDir "$INSTDIR\Language"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  ; The settings stay unless the user asks otherwise; a quiet uninstall keeps them.
  MessageBox MB_YESNO|MB_ICONQUESTION "$(MsgRemoveSettings)" /SD IDNO IDNO keep
    RMDir /r "$APPDATA\${PUBLISHER}\${APP}"
    RMDir "$APPDATA\${PUBLISHER}"
  keep:
SectionEnd
