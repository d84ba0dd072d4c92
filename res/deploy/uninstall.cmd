@echo off
rem Silent removal for deployment tools: runs QZ_DriverRemove.exe the way install.cmd runs the
rem set-up program (from a local copy when started from a share) and passes its exit code on.
call "%~dp0install.cmd" QZ_DriverRemove.exe
exit /b %errorlevel%
