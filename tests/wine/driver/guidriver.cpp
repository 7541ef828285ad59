// vantrel-guidriver: acts as the user of the programs under test. It runs in
// the same Wine prefix and display as they do, finds their top-level windows,
// reads what they show and presses their buttons, and prints what it saw as
// JSON lines for the test runner.
//
// Input is posted to the target's message queue, in order, the way a real
// click or keystroke arrives: the driver never waits for the command it
// triggered to finish, and it refuses to press what a user could not press
// (a disabled button, or any control of a disabled window).

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <set>
#include <string>

#include "json_out.h"
#include "windows_found.h"

namespace {
enum ExitCode { kDone = 0, kNotFound = 1, kUsage = 2, kRefused = 3 };

const wchar_t kUsageText[] =
    L"usage: vantrel-guidriver COMMAND [SELECTOR] [ARGUMENTS]\n"
    L"commands:\n"
    L"  list                 describe every matching top-level window\n"
    L"  wait                 wait for a matching window and describe it\n"
    L"  gone                 wait until no window matches\n"
    L"  watch                describe every matching window once, when it is first seen,\n"
    L"                       from the start to the end of the program named by --exe\n"
    L"  text ID              print the text of control ID\n"
    L"  click ID             press button ID (refused when it or its window is disabled)\n"
    L"  bmclick ID           send BM_CLICK to control ID, whatever its state\n"
    L"  type ID TEXT         type TEXT into control ID, after clearing it\n"
    L"  key NAME             press enter, escape or tab in the window's focused control\n"
    L"  answer BUTTON        message box: describe it, then press ok, cancel, yes, no or retry\n"
    L"  close                press the window's close box\n"
    L"  post NAME WPARAM     post quit (to the window's thread) or queryendsession (to the\n"
    L"                       window) with WPARAM, as the system would\n"
    L"  sleep MS             only wait (stands for an installer step that takes a while)\n"
    L"selector (every part must match):\n"
    L"  --caption TEXT  --class NAME  --dialog (class #32770)  --exe FILE  --hwnd 0xHEX\n"
    L"  --hidden (also invisible windows)\n"
    L"  --timeout MS    how long to wait for the window (default 10000)\n"
    L"exit status: 0 done, 1 window or control not found in time, 2 usage, 3 refused\n";

struct Command {
  std::wstring name;
  Selector selector;
  DWORD timeoutMs = 10000;
  std::wstring arguments[2];
  int argumentCount = 0;
};

int Usage(const wchar_t *problem) {
  if (problem) fwprintf(stderr, L"vantrel-guidriver: %ls\n", problem);
  fputws(kUsageText, stderr);
  return kUsage;
}

void PrintLine(const std::string &line) {
  fputs(line.c_str(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

bool ParseCommand(int argc, wchar_t **argv, Command &command) {
  if (argc < 2) return false;
  command.name = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::wstring option = argv[i];
    bool hasValue = i + 1 < argc;
    if (option == L"--dialog") {
      command.selector.className = L"#32770";
    } else if (option == L"--hidden") {
      command.selector.includeHidden = true;
    } else if (option == L"--caption" && hasValue) {
      command.selector.caption = argv[++i];
    } else if (option == L"--class" && hasValue) {
      command.selector.className = argv[++i];
    } else if (option == L"--exe" && hasValue) {
      command.selector.exe = argv[++i];
    } else if (option == L"--hwnd" && hasValue) {
      command.selector.handle = HWND(ULONG_PTR(wcstoul(argv[++i], nullptr, 16)));
    } else if (option == L"--timeout" && hasValue) {
      command.timeoutMs = wcstoul(argv[++i], nullptr, 10);
    } else if (option.compare(0, 2, L"--") == 0) {
      return false;
    } else if (command.argumentCount < 2) {
      command.arguments[command.argumentCount++] = option;
    } else {
      return false;
    }
  }
  return true;
}

HWND FindTarget(const Command &command) {
  HWND window = WaitForWindow(command.selector, command.timeoutMs);
  if (!window)
    fwprintf(stderr, L"vantrel-guidriver: no matching window within %lu ms\n", command.timeoutMs);
  return window;
}

HWND FindControl(HWND window, const std::wstring &idText) {
  HWND control = GetDlgItem(window, _wtoi(idText.c_str()));
  if (!control)
    fwprintf(stderr, L"vantrel-guidriver: the window has no control %ls\n", idText.c_str());
  return control;
}

int List(const Command &command) {
  for (HWND window : FindWindows(command.selector)) PrintLine(DescribeWindow(window));
  return kDone;
}

int Wait(const Command &command) {
  HWND window = FindTarget(command);
  if (!window) return kNotFound;
  PrintLine(DescribeWindow(window));
  return kDone;
}

int Gone(const Command &command) {
  if (WaitUntilGone(command.selector, command.timeoutMs)) return kDone;
  fwprintf(stderr, L"vantrel-guidriver: a matching window is still there after %lu ms\n",
           command.timeoutMs);
  return kNotFound;
}

bool ProgramRunning(const std::wstring &exe) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
       more = Process32NextW(snapshot, &entry))
    found = lstrcmpiW(entry.szExeFile, exe.c_str()) == 0;
  CloseHandle(snapshot);
  return found;
}

// Sees windows that a test polling from outside could miss: a dialog that
// is shown only briefly, or one that must never be shown at all. With --exe
// it first waits for that program to start, then watches until it ends.
int Watch(const Command &command) {
  const DWORD kWatchPollMs = 5;
  const std::wstring &exe = command.selector.exe;
  std::set<HWND> seen;
  bool started = exe.empty();
  DWORD start = GetTickCount();
  // The test starts the program once the watch is ready: a watch that
  // starts late on a busy machine could miss a short run altogether.
  PrintLine("watching");
  for (;;) {
    bool running = exe.empty() || ProgramRunning(exe);
    started = started || running;
    for (HWND window : FindWindows(command.selector)) {
      if (seen.insert(window).second) PrintLine(DescribeWindow(window));
    }
    if (GetTickCount() - start >= command.timeoutMs) {
      if (!started) fwprintf(stderr, L"vantrel-guidriver: %ls never ran\n", exe.c_str());
      return started ? kDone : kNotFound;
    }
    if (started && !running) return kDone;
    Sleep(kWatchPollMs);
  }
}

int Text(HWND window, const Command &command) {
  HWND control = FindControl(window, command.arguments[0]);
  if (!control) return kNotFound;
  PrintLine("{\"id\":" + std::to_string(GetDlgCtrlID(control)) +
            ",\"text\":" + JsonString(WindowText(control)) + "}");
  return kDone;
}

// What a mouse click on an enabled button ends in: the button's notification
// to its dialog. Posted, so the driver returns while the command runs.
int Click(HWND window, const Command &command) {
  HWND button = FindControl(window, command.arguments[0]);
  if (!button) return kNotFound;
  if (!IsWindowEnabled(window) || !IsWindowEnabled(button) || !IsWindowVisible(button)) {
    fwprintf(stderr, L"vantrel-guidriver: control %ls cannot be pressed now (disabled)\n",
             command.arguments[0].c_str());
    return kRefused;
  }
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), LPARAM(button));
  return kDone;
}

// For checking what the platform does with BM_CLICK on any button.
int BmClick(HWND window, const Command &command) {
  HWND button = FindControl(window, command.arguments[0]);
  if (!button) return kNotFound;
  PostMessageW(button, BM_CLICK, 0, 0);
  return kDone;
}

// Typing arrives as characters in the control's queue, so the control's own
// limits (such as a maximum length) apply as they would to a person.
int Type(HWND window, const Command &command) {
  HWND edit = FindControl(window, command.arguments[0]);
  if (!edit) return kNotFound;
  if (!IsWindowEnabled(window) || !IsWindowEnabled(edit)) return kRefused;
  DWORD_PTR ignored;
  SendMessageTimeoutW(edit, WM_SETTEXT, 0, LPARAM(L""), SMTO_ABORTIFHUNG, 2000, &ignored);
  for (wchar_t c : command.arguments[1]) PostMessageW(edit, WM_CHAR, c, 1);
  return kDone;
}

HWND FocusedControl(HWND window) {
  GUITHREADINFO info;
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(window, nullptr);
  if (GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
      (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
    return info.hwndFocus;
  return window;
}

int Key(HWND window, const Command &command) {
  const std::wstring &name = command.arguments[0];
  UINT key = name == L"enter"    ? VK_RETURN
             : name == L"escape" ? VK_ESCAPE
             : name == L"tab"    ? VK_TAB
                                 : 0;
  if (!key) return Usage(L"key: enter, escape or tab");
  HWND target = FocusedControl(window);
  UINT scan = MapVirtualKeyW(key, 0);
  PostMessageW(target, WM_KEYDOWN, key, 1 | (scan << 16));
  PostMessageW(target, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
  return kDone;
}

int Answer(HWND window, const Command &command) {
  const std::wstring &name = command.arguments[0];
  int id = name == L"ok"       ? IDOK
           : name == L"cancel" ? IDCANCEL
           : name == L"retry"  ? IDRETRY
           : name == L"yes"    ? IDYES
           : name == L"no"     ? IDNO
                               : 0;
  if (!id) return Usage(L"answer: ok, cancel, retry, yes or no");
  PrintLine(DescribeWindow(window));
  HWND button = GetDlgItem(window, id);
  if (!button) {
    fwprintf(stderr, L"vantrel-guidriver: the message box has no %ls button\n", name.c_str());
    return kNotFound;
  }
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(button));
  return kDone;
}

int Post(HWND window, const Command &command) {
  const std::wstring &name = command.arguments[0];
  WPARAM value = wcstoul(command.arguments[1].c_str(), nullptr, 10);
  if (name == L"quit") {
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    return PostThreadMessageW(thread, WM_QUIT, value, 0) ? kDone : kNotFound;
  }
  if (name == L"queryendsession")
    return PostMessageW(window, WM_QUERYENDSESSION, value, 0) ? kDone : kNotFound;
  return Usage(L"post: quit or queryendsession");
}

int Close(HWND window) {
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  return kDone;
}

int Run(const Command &command) {
  const std::wstring &name = command.name;
  if (name == L"list") return List(command);
  if (name == L"wait") return Wait(command);
  if (name == L"gone") return Gone(command);
  if (name == L"watch") return Watch(command);
  if (name == L"sleep" && command.argumentCount == 1) {
    Sleep(wcstoul(command.arguments[0].c_str(), nullptr, 10));
    return kDone;
  }

  int needed = (name == L"type" || name == L"post") ? 2 : (name == L"close" ? 0 : 1);
  bool known = name == L"text" || name == L"click" || name == L"bmclick" || name == L"type" ||
               name == L"key" || name == L"answer" || name == L"close" || name == L"post";
  if (!known) return Usage(L"unknown command");
  if (command.argumentCount != needed) return Usage(L"wrong number of arguments");

  HWND window = FindTarget(command);
  if (!window) return kNotFound;
  if (name == L"text") return Text(window, command);
  if (name == L"click") return Click(window, command);
  if (name == L"bmclick") return BmClick(window, command);
  if (name == L"type") return Type(window, command);
  if (name == L"key") return Key(window, command);
  if (name == L"answer") return Answer(window, command);
  if (name == L"post") return Post(window, command);
  return Close(window);
}
}  // namespace

int wmain(int argc, wchar_t **argv) {
  Command command;
  if (!ParseCommand(argc, argv, command)) return Usage(nullptr);
  return Run(command);
}
