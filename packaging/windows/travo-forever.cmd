@echo off
rem Runs travo again and again: it ends whenever the host closes the connection or cannot be
rem reached, and never retries by itself.
rem   travo-forever [FOLDER]    FOLDER holds quintaro.travo (default: the current folder)
rem It checks the file once first, so that its window shows the findings before anything else,
rem and after every exit tries the connection once, so that a line names the likely cause.
rem Stop it with Ctrl+C.
setlocal
set "TRAVO=%~dp0travo.exe"
if not "%~1"=="" (
    if not exist "%~1\" (
        >&2 echo travo-forever: there is no folder "%~1"
        exit /b 2
    )
    cd /d "%~1"
)
if not exist "quintaro.travo" >&2 echo travo-forever: there is no quintaro.travo in "%CD%"
if exist "%~dp0travo-check.exe" "%~dp0travo-check.exe" quintaro.travo

:again
"%TRAVO%"
>&2 echo travo-forever: travo ended with status %ERRORLEVEL%, starting it again in 5 seconds
if exist "%~dp0travo-check.exe" "%~dp0travo-check.exe" --brief --connect quintaro.travo 1>&2
rem timeout refuses redirected input (as under a task scheduler); ping waits there instead.
timeout /t 5 /nobreak >nul 2>&1 || ping -n 6 127.0.0.1 >nul
goto again
