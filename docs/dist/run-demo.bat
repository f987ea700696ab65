@echo off
rem Starts Kestrova on the virtual SCSI bus of this folder, to try it without SCSI hardware.
rem Kestrova runs from its own folder (one up), where it finds its manual. This folder goes on
rem the search path, so that Windows finds the virtual bus (wnaspi32.dll and vbus.ini) here.
rem An ASPI layer installed in the Windows system folder is found first and takes precedence.
rem Under Wine, use run-demo.sh instead.
setlocal
set "DEMO=%~dp0"
set "PATH=%DEMO%;%PATH%"
cd /d "%DEMO%.."
start "" kestrova.exe
