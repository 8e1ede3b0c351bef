@echo off
rem The Start menu's "Downloader Command Prompt" (cmd.exe /k this file): a command prompt
rem in the Downloader folder with its programs on the PATH.
title Downloader Command Prompt
cd /d "%~dp0"
set "PATH=%~dp0;%PATH%"
echo Downloader @VERSION@: downloader, downloader-station, module-emulator and objtool.
echo Each tells its options with --help (downloader --help). Write output files to a
echo folder of your own, such as %%TEMP%%: this folder is read-only for most users.
echo.
