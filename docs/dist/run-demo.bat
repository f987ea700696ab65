@echo off
rem Starts Kestrova on the virtual SCSI bus of this folder, to try it without SCSI hardware.
rem Kestrova runs from its own folder (one up), where it finds its manual. This folder goes on
rem the search path, so that Windows finds the virtual bus (wnaspi32.dll and vbus.ini) here.
rem An ASPI layer installed in the Windows system folder is found first and takes precedence.
rem Under Wine, use run-demo.sh instead.
rem
rem Kestrova asks Windows for administrator rights when it starts, on the virtual bus too. A
rem program that Windows elevates gets a fresh environment, without the search path set here:
rem so this script first asks for the rights itself (through PowerShell, which Windows 7 and
rem later have), and Kestrova, started from the elevated script, inherits them and the path
rem without a second question. S-1-16-12288 is the high (administrator) integrity level.
setlocal
whoami /groups 2>nul | find "S-1-16-12288" >nul
if not errorlevel 1 goto elevated
set "SELF=%~f0"
powershell -NoProfile -Command "Start-Process -FilePath '%SELF:'=''%' -Verb RunAs"
exit /b
:elevated
set "DEMO=%~dp0"
set "PATH=%DEMO%;%PATH%"
cd /d "%DEMO%.."
start "" kestrova.exe
