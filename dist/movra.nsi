; Movra's setup program. Built by the Windows tree (dist/CMakeLists.txt), which passes:
;   VERSION (1.2.3), MOVRA_EXE, TISIM_DLL, TISIM_SCENARIO, ICON, OUTFILE, and SERVICE_EXE when the
;   tree builds MovraService.exe.
; The program opens Movra.cfg and Movra.log by bare name in its current folder, and Program Files
; is read-only for it: every shortcut starts it in the installing user's %APPDATA%\Movra.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Movra"
!define TISIM_CLSID "{385D6E60-1ACB-4097-B428-C766661C1E9D}"
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\Movra"
; A silent installation's exit codes beyond NSIS's own (0 done, 1 cancelled, 2 aborted): Movra is
; installed, but its service could not be installed (3) or started (4); the uninstaller could not
; remove the service (3).
!define EXIT_SERVICE_NOT_INSTALLED 3
!define EXIT_SERVICE_NOT_STARTED 4

Name "Movra ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Movra"
; An upgrade goes where the earlier version is.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "Movra ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1049 "ProductName" "Movra"
VIAddVersionKey /LANG=1049 "CompanyName" "Movra"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка Movra ${VERSION}"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "Movra"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_WELCOMEPAGE_TEXT "Программа установит Movra ${VERSION}, регулятор полосы пропускания для пользователей сервера ТИ.$\r$\n$\r$\nMovra хранит свои настройки (Movra.cfg) и журнал (Movra.log) в папке, из которой её запускают. Ярлыки, которые создаст установка, запускают её в папке ваших данных:$\r$\n%APPDATA%\Movra.$\r$\n$\r$\nНажмите «Далее», чтобы продолжить."
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Запустить Movra"
!define MUI_FINISHPAGE_RUN_FUNCTION RunMovra

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Var DataDir
; The service's data folder (%ProgramData%\Movra), and whether the service was there before.
Var ServiceData
Var ServiceWas

; Runs MovraService.exe with one command: $0 is its exit code, $1 what it printed (its error line).
; It prints UTF-8; nsExec decodes the OEM code page, whose single bytes go back unchanged.
!macro ServiceCommand EXE COMMAND
  nsExec::ExecToStack /OEM '"${EXE}" ${COMMAND}'
  Pop $0
  Pop $1
  System::Call '*(&m${NSIS_MAX_STRLEN}) p .r2'
  System::Call 'kernel32::WideCharToMultiByte(i 1, i 0, w r1, i -1, p r2, i ${NSIS_MAX_STRLEN}, p 0, p 0)'
  System::Call 'kernel32::MultiByteToWideChar(i 65001, i 0, p r2, i -1, w .r1, i ${NSIS_MAX_STRLEN})'
  System::Free $2
  ${Do}
    StrCpy $2 $1 1 -1
    ${If} $2 == "$\n"
    ${OrIf} $2 == "$\r"
      StrCpy $1 $1 -1
    ${Else}
      ${Break}
    ${EndIf}
  ${Loop}
!macroend

; A service reports itself stopped just before its process ends, and until then its exe cannot be
; replaced or deleted: waits for that, at most 10 s.
!macro WaitForServiceExe
  StrCpy $3 0
  ${DoWhile} ${FileExists} "$INSTDIR\MovraService.exe"
    ClearErrors
    FileOpen $2 "$INSTDIR\MovraService.exe" a
    ${IfNot} ${Errors}
      FileClose $2
      ${Break}
    ${EndIf}
    ${If} $3 >= 40
      ${Break}
    ${EndIf}
    Sleep 250
    IntOp $3 $3 + 1
  ${Loop}
!macroend

!macro FindServiceData
  SetShellVarContext all
  StrCpy $ServiceData "$APPDATA\Movra"
  SetShellVarContext current
!macroend

Function RunMovra
  SetOutPath "$DataDir"
  Exec '"$INSTDIR\Movra.exe"'
FunctionEnd

; A shortcut to Movra.exe that starts it in the data folder (the folder a shortcut is made in
; is its "Start in").
!macro MovraShortcut LINK
  SetOutPath "$DataDir"
  CreateShortcut "${LINK}" "$INSTDIR\Movra.exe" "" "$INSTDIR\Movra.exe" 0
!macroend

Section "Movra" SecMain
  SectionIn RO
  SetShellVarContext current
  CreateDirectory "$DataDir"
  SetOutPath "$INSTDIR"
  ; A running Movra.exe cannot be replaced; say so instead of the generic file error.
  retry:
  ${If} ${FileExists} "$INSTDIR\Movra.exe"
    ClearErrors
    FileOpen $0 "$INSTDIR\Movra.exe" a
    ${If} ${Errors}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Movra запущена, и файл $INSTDIR\Movra.exe нельзя заменить.$\r$\nЗакройте Movra (команда «Выход» в её меню) и нажмите «Повтор», или «Отмена», чтобы прервать установку." /SD IDCANCEL IDRETRY retry
      Abort "Установка прервана: Movra запущена."
    ${EndIf}
    FileClose $0
  ${EndIf}
  File "/oname=Movra.exe" "${MOVRA_EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  !insertmacro MovraShortcut "$SMPROGRAMS\Movra.lnk"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Movra"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Movra"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Movra.exe,0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKLM "${UNINST_KEY}" "DataFolder" "$DataDir"
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

Section "Ярлык на рабочем столе" SecDesktop
  SetShellVarContext current
  !insertmacro MovraShortcut "$DESKTOP\Movra.lnk"
SectionEnd

Section /o "Запускать при входе в Windows" SecStartup
  SetShellVarContext current
  ; A shortcut, not a Run entry: only a shortcut carries the folder to start in.
  !insertmacro MovraShortcut "$SMSTARTUP\Movra.lnk"
SectionEnd

Section /o "Демонстрационный сервер TiSim" SecTiSim
  SetOutPath "$INSTDIR"
  File "${TISIM_DLL}"
  File "/oname=TiSim.tisim" "${TISIM_SCENARIO}"
  ClearErrors
  ReadRegStr $0 HKCR "CLSID\${TISIM_CLSID}\InprocServer32" ""
  ${If} $0 != ""
  ${AndIf} $0 != "$INSTDIR\TiSim.dll"
    DetailPrint "TiSim не зарегистрирован: для класса сервера ТИ уже зарегистрирован $0"
    MessageBox MB_OK|MB_ICONINFORMATION "Для класса сервера ТИ на этом компьютере уже зарегистрирован другой сервер:$\r$\n$0$\r$\nTiSim установлен в папку программы, но не зарегистрирован." /SD IDOK
  ${Else}
    MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "TiSim — демонстрационный сервер, а не настоящий сервер ТИ.$\r$\nПосле регистрации все программы этого компьютера, и Movra тоже, будут подключаться к TiSim вместо сервера ТИ, пока TiSim не будет удалён.$\r$\n$\r$\nЗарегистрировать TiSim?" /SD IDOK IDOK register
    DetailPrint "TiSim не зарегистрирован."
    Goto done
    register:
    ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\TiSim.dll"' $1
    ${If} $1 == 0
      WriteRegDWORD HKLM "${UNINST_KEY}" "TiSimRegistered" 1
      DetailPrint "TiSim зарегистрирован."
    ${Else}
      MessageBox MB_OK|MB_ICONEXCLAMATION "Не удалось зарегистрировать TiSim (код $1)." /SD IDOK
    ${EndIf}
    done:
  ${EndIf}
SectionEnd

!ifdef SERVICE_EXE
Section /o "Служба Movra (регулирует без входа в Windows)" SecService
  SetOutPath "$INSTDIR"
  ; The running service holds its exe: an upgrade stops it first, with a copy of the new exe (any
  ; copy can, and the old one may be elsewhere).
  ${If} $ServiceWas == 1
    InitPluginsDir
    File "/oname=$PLUGINSDIR\MovraService.exe" "${SERVICE_EXE}"
    retry:
    !insertmacro ServiceCommand "$PLUGINSDIR\MovraService.exe" stop
    ${If} $0 != 0
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Не удалось остановить службу Movra (код $0):$\r$\n$1$\r$\nНажмите «Повтор», чтобы попробовать снова, или «Отмена», чтобы прервать установку." /SD IDCANCEL IDRETRY retry
      Abort "Установка прервана: служба Movra не остановлена."
    ${EndIf}
    DetailPrint "Служба Movra остановлена."
    !insertmacro WaitForServiceExe
  ${EndIf}
  File "/oname=MovraService.exe" "${SERVICE_EXE}"
  ; `install` makes the data folder with its ACL (a file copied in later takes it on), or
  ; points an installed service at this exe.
  !insertmacro ServiceCommand "$INSTDIR\MovraService.exe" install
  ${If} $0 != 0
    DetailPrint "Служба Movra не установлена (код $0): $1"
    MessageBox MB_OK|MB_ICONEXCLAMATION "Не удалось установить службу Movra (код $0):$\r$\n$1" /SD IDOK
    SetErrorLevel ${EXIT_SERVICE_NOT_INSTALLED}
    Return
  ${EndIf}
  DetailPrint "Служба Movra установлена."
  ; The first service gets the installing administrator's settings; an upgrade leaves the folder alone.
  ${If} $ServiceWas != 1
  ${AndIfNot} ${FileExists} "$ServiceData\Movra.cfg"
  ${AndIf} ${FileExists} "$DataDir\Movra.cfg"
    ClearErrors
    CopyFiles /SILENT "$DataDir\Movra.cfg" "$ServiceData"
    ${If} ${Errors}
      DetailPrint "Movra.cfg не скопирован в $ServiceData"
      MessageBox MB_OK|MB_ICONEXCLAMATION "Не удалось скопировать ваши настройки$\r$\n$DataDir\Movra.cfg$\r$\nв папку службы $ServiceData.$\r$\nСкопируйте файл туда сами." /SD IDOK
    ${Else}
      DetailPrint "Ваши настройки скопированы в $ServiceData\Movra.cfg"
    ${EndIf}
  ${EndIf}
  !insertmacro ServiceCommand "$INSTDIR\MovraService.exe" start
  ${If} $0 != 0
    DetailPrint "Служба Movra не запущена (код $0): $1"
    MessageBox MB_OK|MB_ICONEXCLAMATION "Не удалось запустить службу Movra (код $0):$\r$\n$1" /SD IDOK
    SetErrorLevel ${EXIT_SERVICE_NOT_STARTED}
    Return
  ${EndIf}
  DetailPrint "Служба Movra запущена."
SectionEnd
!endif

Section "-size"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

; After the sections: it selects one by its index.
Function .onInit
  SetShellVarContext current
  StrCpy $DataDir "$APPDATA\Movra"
  !insertmacro FindServiceData
  ; An installed service stays and is updated: removing it is the uninstaller's part.
  ClearErrors
  ReadRegStr $0 HKLM "${SERVICE_KEY}" "ImagePath"
  ${If} $0 != ""
    StrCpy $ServiceWas 1
!ifdef SERVICE_EXE
    IntOp $0 ${SF_SELECTED} | ${SF_RO}
    SectionSetFlags ${SecService} $0
!endif
  ${EndIf}
  ; /TISIM selects the demonstration server in a silent installation.
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/TISIM" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecTiSim} ${SF_SELECTED}
  ${EndIf}
!ifdef SERVICE_EXE
  ; /SERVICE selects the service in a silent installation.
  ClearErrors
  ${GetOptions} $R0 "/SERVICE" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecService} ${SF_SELECTED}
  ${EndIf}
!endif
FunctionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} "Программа Movra и ярлык в меню «Пуск»."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDesktop} "Ярлык Movra на рабочем столе."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecStartup} "Запускать Movra при вашем входе в Windows (ярлык в папке «Автозагрузка»)."
!ifdef SERVICE_EXE
  !insertmacro MUI_DESCRIPTION_TEXT ${SecService} "Регулирует сервер ТИ без входа в Windows. Настройки и журнал — в %ProgramData%\Movra."
!endif
  !insertmacro MUI_DESCRIPTION_TEXT ${SecTiSim} "Демонстрационный сервер TiSim вместо сервера ТИ: только для знакомства с Movra и проверки. Регистрируется после предупреждения."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Section "Uninstall"
  SetShellVarContext current
  ReadRegStr $DataDir HKLM "${UNINST_KEY}" "DataFolder"
  ${If} $DataDir == ""
    StrCpy $DataDir "$APPDATA\Movra"
  ${EndIf}
  !insertmacro FindServiceData
  ; Only the service this installation put there: its exe is in the program folder.
  ${If} ${FileExists} "$INSTDIR\MovraService.exe"
    !insertmacro ServiceCommand "$INSTDIR\MovraService.exe" uninstall
    ${If} $0 != 0
      DetailPrint "Служба Movra не удалена (код $0): $1"
      MessageBox MB_OK|MB_ICONEXCLAMATION "Не удалось удалить службу Movra (код $0):$\r$\n$1" /SD IDOK
      SetErrorLevel ${EXIT_SERVICE_NOT_INSTALLED}
    ${Else}
      DetailPrint "Служба Movra удалена."
      !insertmacro WaitForServiceExe
    ${EndIf}
  ${EndIf}
  ClearErrors
  ReadRegDWORD $0 HKLM "${UNINST_KEY}" "TiSimRegistered"
  ${If} $0 == 1
    ExecWait '"$SYSDIR\regsvr32.exe" /s /u "$INSTDIR\TiSim.dll"'
  ${EndIf}
  Delete "$INSTDIR\Movra.exe"
  Delete "$INSTDIR\MovraService.exe"
  Delete "$INSTDIR\TiSim.dll"
  Delete "$INSTDIR\TiSim.tisim"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Movra.lnk"
  Delete "$DESKTOP\Movra.lnk"
  Delete "$SMSTARTUP\Movra.lnk"
  DeleteRegKey HKLM "${UNINST_KEY}"
  DetailPrint "Папка данных оставлена: $DataDir"
  ${If} ${FileExists} "$ServiceData\*.*"
    DetailPrint "Папка данных службы оставлена: $ServiceData"
    MessageBox MB_OK|MB_ICONINFORMATION "Movra удалена.$\r$\nНастройки и журнал (Movra.cfg, Movra.log) остались в папке$\r$\n$DataDir$\r$\nНастройки и журнал службы Movra остались в папке$\r$\n$ServiceData$\r$\nУдалите их сами, если они больше не нужны." /SD IDOK
  ${Else}
    MessageBox MB_OK|MB_ICONINFORMATION "Movra удалена.$\r$\nНастройки и журнал (Movra.cfg, Movra.log) остались в папке$\r$\n$DataDir$\r$\nУдалите её сами, если они больше не нужны." /SD IDOK
  ${EndIf}
SectionEnd
