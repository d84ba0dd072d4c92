@echo off
rem Silent install for deployment tools: runs QZ_DriverSetup.exe, waits for it and passes its
rem exit code on (0: it ran, and logs\QZ_Orvo_Driver_Log.txt says how each step went; 1: no log
rem could be written, so nothing was done). uninstall.cmd runs QZ_DriverRemove.exe through it.
rem
rem Started from a share, it runs a copy in "%ProgramFiles%\QZ_DriverSetup" instead: the programs
rem run with administrator rights and must not run from where other accounts may write. The log
rem is then in that folder's logs folder, and later runs from the share append to it.
setlocal
set "PROGRAM=%~1"
if "%PROGRAM%"=="" set "PROGRAM=QZ_DriverSetup.exe"
for %%f in ("%~dp0..") do set "BUNDLE=%%~ff"
set "FOLDER=%BUNDLE%"
call :from_a_share
if not errorlevel 1 (
  call :copy_locally || exit /b 1
)
start "" /wait "%FOLDER%\%PROGRAM%"
exit /b %errorlevel%

rem Answers 0 when the bundle is on a share (a UNC path or a network drive), else 1.
:from_a_share
if "%BUNDLE:~0,2%"=="\\" exit /b 0
fsutil fsinfo drivetype %BUNDLE:~0,2% 2>nul | find /i "remote" >nul
if errorlevel 1 exit /b 1
exit /b 0

rem Fails only when the copy could not be made; the log beside it is kept.
:copy_locally
set "FOLDER=%ProgramFiles%\QZ_DriverSetup"
if not exist "%FOLDER%\logs\" mkdir "%FOLDER%\logs" || exit /b 1
if exist "%FOLDER%\Drivers\" rmdir /s /q "%FOLDER%\Drivers"
for %%p in (QZ_DriverSetup.exe QZ_DriverRemove.exe QZ_DeviceInstall64.exe) do (
  copy /y "%BUNDLE%\%%p" "%FOLDER%\" >nul || exit /b 1
)
xcopy "%BUNDLE%\Drivers" "%FOLDER%\Drivers\" /e /i /q /y /r >nul || exit /b 1
exit /b 0
