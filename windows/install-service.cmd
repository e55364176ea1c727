@echo off
rem Installs chronsvc.exe as the service SNTP, running as NT AUTHORITY\LocalService with
rem SeSystemtimePrivilege as its one required privilege, and registers the event source SNTP with
rem the program's own message table, so that the Event Viewer shows the texts of its entries; the
rem service starts with Windows (delayed) and is restarted a minute after a failure. The service
rem gets a SID of its own (NT SERVICE\<name>), an inbound firewall rule for UDP 123 from the local
rem subnets named after it, and its status folder %ProgramData%\chron rights of its own:
rem   install-service.cmd C:\Programme\SNTP\chronsvc.exe [<service name>]
rem Then start it with "sc start SNTP" (or "net start SNTP"). Run as administrator. The service SNTP
rem is shown as "SNTP v4 Zeitdienst", one of another name as "SNTP v4 Zeitdienst (<name>)".
rem
rem A program folder that ordinary users can write to is refused: whoever can replace the program
rem runs code as the service's account, with its right to set the clock. Judged from icacls'
rem listing of the folder: a line naming Users, Authenticated Users or Everyone (the English or
rem German names: Benutzer, Authentifizierte Benutzer, Jeder) with the right F, M or W, or one of
rem the specific write rights WD, AD, GW, GA, WDAC, WO, also inherited only (IO). Where icacls
rem lists nothing (Wine), nothing is refused.
setlocal
rem The program's path is stored in quotes, so that a path with blanks ("C:\Program Files\...") names
rem the program and nothing before its first blank. Each step is checked with "if errorlevel":
rem Wine's cmd runs the right side of "a || b" even when a succeeds.
set PROGRAM=%~1
set NAME=%~2
if "%NAME%"=="" set NAME=SNTP
if "%PROGRAM%"=="" set PROGRAM=%~dp0chronsvc.exe
set "DISPLAY=SNTP v4 Zeitdienst"
if /i not "%NAME%"=="SNTP" set "DISPLAY=SNTP v4 Zeitdienst (%NAME%)"
for %%P in ("%PROGRAM%") do set "FOLDER=%%~dpP"
set "FOLDER=%FOLDER:~0,-1%"
set WRITABLE=
for /f "delims=" %%L in ('icacls "%FOLDER%" 2^>nul') do call :judge "%%L"
if defined WRITABLE goto writable
sc create %NAME% binPath= "\"%PROGRAM%\"" type= own start= demand obj= "NT AUTHORITY\LocalService" DisplayName= "%DISPLAY%"
if errorlevel 1 goto failed
rem The service needs no privilege but that of setting the clock: the only one its process keeps.
sc privs %NAME% SeSystemtimePrivilege
if errorlevel 1 echo WARNUNG: Die Rechte des Dienstes wurden nicht auf SeSystemtimePrivilege begrenzt ^(sc privs^).
rem A start that fails (exit code 55: no usable network address yet, as on a boot where DHCP comes
rem late) or a stop with an exit code is restarted by the service manager a minute later; the count
rem of failures starts again after a day without one. The service starts with Windows, delayed.
sc failure %NAME% reset= 86400 actions= restart/60000/restart/60000/restart/60000
if errorlevel 1 echo WARNUNG: Der Dienst wird nach einem Fehler nicht neu gestartet ^(sc failure^).
sc failureflag %NAME% 1
if errorlevel 1 echo WARNUNG: Der Dienst wird nach einem Fehlercode nicht neu gestartet ^(sc failureflag^).
sc config %NAME% start= delayed-auto
if errorlevel 1 echo WARNUNG: Der Dienst startet nicht mit Windows ^(sc config start= delayed-auto^).
rem The service's own SID in its token: without it the firewall rule, which names the service,
rem matches nothing, and the status folder's rights below do not apply to it.
sc sidtype %NAME% unrestricted
if errorlevel 1 echo WARNUNG: Der Dienst hat keine eigene SID ^(sc sidtype^): Firewallregel und Ordnerrechte greifen nicht.
rem Windows Defender Firewall drops requests and broadcasts to UDP 123 without a rule: one for this
rem program running as this service, from the local subnets (remoteip=any: from everywhere). A rule
rem of the same name, from an earlier installation, is deleted first (which fails when there is none).
netsh advfirewall firewall delete rule name=%NAME% >nul 2>&1
netsh advfirewall firewall add rule name=%NAME% dir=in action=allow protocol=UDP localport=123 program="%PROGRAM%" service=%NAME% remoteip=localsubnet
if errorlevel 1 echo WARNUNG: Keine Firewallregel: UDP 123 bleibt gesperrt ^(netsh advfirewall^).
rem The status folder, where every user may create files by ProgramData's inherited rights: owner
rem Administrators, its explicit entries reset, then rights of its own, not inherited: SYSTEM and
rem Administrators full control, the service modify, Users read. Well-known SIDs, as group names
rem differ between languages of Windows.
if not exist "%ProgramData%\chron" mkdir "%ProgramData%\chron"
icacls "%ProgramData%\chron" /setowner *S-1-5-32-544
if errorlevel 1 goto folder
icacls "%ProgramData%\chron" /reset
if errorlevel 1 goto folder
icacls "%ProgramData%\chron" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F "NT SERVICE\%NAME%":(OI)(CI)M *S-1-5-32-545:(OI)(CI)R
if not errorlevel 1 goto folderdone
:folder
echo WARNUNG: Der Ordner %ProgramData%\chron hat nicht die Rechte des Dienstes ^(icacls^).
:folderdone
reg add "HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\SNTP" /v EventMessageFile /t REG_EXPAND_SZ /d "%PROGRAM%" /f
if errorlevel 1 goto failed
reg add "HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\SNTP" /v TypesSupported /t REG_DWORD /d 7 /f
if errorlevel 1 goto failed
echo Dienst %NAME% eingerichtet, Ereignisquelle SNTP registriert.
exit /b 0
:failed
echo FEHLER: Einrichtung abgebrochen.
exit /b 1
:writable
echo FEHLER: Gewoehnliche Benutzer duerfen in den Programmordner "%FOLDER%" schreiben (icacls, oben): wer das Programm ersetzt, liefe als Dienst mit dem Recht, die Uhr zu stellen. Einrichtung abgebrochen.
exit /b 1

rem One line of icacls' listing ("<folder> <account>:<rights>" or "<blanks><account>:<rights>"):
rem shown and WRITABLE set when it gives one of the groups a write right. The substitutions run
rem through "call set" (no delayed expansion), which Wine's cmd also knows.
:judge
set "LINE=%~1"
set GROUP=
set RIGHT=
for %%G in ("\Users:" "\Benutzer:" "Authenticated Users:" "Authentifizierte Benutzer:" "Everyone:" "Jeder:") do call :contains "%%~G" GROUP
for %%R in ("(F)" "(M)" "(W)" "(WD" ",WD" "(AD" ",AD" "(GW" ",GW" "(GA" ",GA" "WDAC" "(WO" ",WO") do call :contains "%%~R" RIGHT
if not defined GROUP exit /b 0
if not defined RIGHT exit /b 0
set WRITABLE=1
echo %~1
exit /b 0
:contains
set "PATTERN=%~1"
call set "REST=%%LINE:%PATTERN%=%%"
if not "%REST%"=="%LINE%" set %2=1
exit /b 0
