@echo off
rem Removes the KorvelComTools control's registration (the keys it wrote, nothing else).
regsvr32 /u /s "%~dp0KorvelCom.dll"
if errorlevel 1 (echo KorvelCom.dll could not be unregistered & exit /b 1)
echo KorvelCom.dll unregistered
