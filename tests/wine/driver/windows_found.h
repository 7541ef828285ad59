// Finding the top-level windows of the programs under test, and describing
// them with their controls as one JSON line each.
#ifndef VANTREL_GUIDRIVER_WINDOWS_FOUND_H
#define VANTREL_GUIDRIVER_WINDOWS_FOUND_H

#include <windows.h>

#include <string>
#include <vector>

// Which top-level windows a command means. Empty fields match anything.
struct Selector {
  std::wstring caption;    // exact caption
  std::wstring className;  // window class, e.g. "#32770" for dialogs and message boxes
  std::wstring exe;        // file name of the owning program, without regard to case
  HWND handle = nullptr;   // one particular window
  bool includeHidden = false;
};

// Visible (or, with includeHidden, all) top-level windows that match, in
// the system's z-order.
std::vector<HWND> FindWindows(const Selector &selector);

// Waits until some window matches; nullptr when timeoutMs passes first.
HWND WaitForWindow(const Selector &selector, DWORD timeoutMs);

// Waits until no window matches; false when timeoutMs passes first.
bool WaitUntilGone(const Selector &selector, DWORD timeoutMs);

// Text of a window or control, read with a bounded WM_GETTEXT so that a busy
// program cannot hang the driver.
std::wstring WindowText(HWND window);

// The window with its caption, class, program, state, rectangle and every
// descendant control (id, class, text, enabled, visible).
std::string DescribeWindow(HWND window);

// The file name (no folder) of the program that owns a window.
std::wstring ProgramName(HWND window);

#endif
