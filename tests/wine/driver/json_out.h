// JSON lines on stdout: the one output format of the GUI driver, read by the
// Python test runner.
#ifndef VANTREL_GUIDRIVER_JSON_OUT_H
#define VANTREL_GUIDRIVER_JSON_OUT_H

#include <windows.h>

#include <string>

// A wide (UTF-16) text as a quoted, escaped JSON string in UTF-8.
std::string JsonString(const std::wstring &text);

// A window handle as the hexadecimal text the driver also accepts back.
std::string HandleText(HWND window);

#endif
