@echo off
rem Registers the KorvelComTools control for every user of this machine (run as administrator).
rem For the current user only, without administrator rights: regsvr32 /n /i:user "%~dp0KorvelCom.dll"
regsvr32 /s "%~dp0KorvelCom.dll"
if errorlevel 1 (echo KorvelCom.dll could not be registered & exit /b 1)
echo KorvelCom.dll registered
