@echo off
echo Acme Notes 1.0: installed by a Vantrel package.
pause
