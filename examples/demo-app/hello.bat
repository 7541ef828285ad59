@echo off
echo Hello from the Vantrel demo application.
echo It was installed into %~dp0
