#include "windows_found.h"

#include <stdio.h>

#include "json_out.h"

namespace {
const DWORD kPollMs = 50;
const UINT kTextTimeoutMs = 2000;

std::wstring ClassName(HWND window) {
  wchar_t name[256];
  int length = GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? length : 0);
}

bool SameIgnoringCase(const std::wstring &a, const std::wstring &b) {
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), int(a.size()), b.c_str(),
                        int(b.size())) == CSTR_EQUAL;
}

bool Matches(HWND window, const Selector &selector) {
  if (!selector.includeHidden && !IsWindowVisible(window)) return false;
  if (selector.handle && window != selector.handle) return false;
  if (!selector.className.empty() && ClassName(window) != selector.className) return false;
  if (!selector.caption.empty() && WindowText(window) != selector.caption) return false;
  if (!selector.exe.empty() && !SameIgnoringCase(ProgramName(window), selector.exe)) return false;
  return true;
}

struct Search {
  const Selector *selector;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM context) {
  Search *search = reinterpret_cast<Search *>(context);
  if (Matches(window, *search->selector)) search->found.push_back(window);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM context) {
  reinterpret_cast<std::vector<HWND> *>(context)->push_back(window);
  return TRUE;
}

const char *Flag(bool value) { return value ? "true" : "false"; }
}  // namespace

std::vector<HWND> FindWindows(const Selector &selector) {
  Search search{&selector, {}};
  EnumWindows(CollectTopLevel, LPARAM(&search));
  return search.found;
}

HWND WaitForWindow(const Selector &selector, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    std::vector<HWND> found = FindWindows(selector);
    if (!found.empty()) return found.front();
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(kPollMs);
  }
}

bool WaitUntilGone(const Selector &selector, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (FindWindows(selector).empty()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(kPollMs);
  }
}

std::wstring WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs,
                           &length))
    return std::wstring();
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, length + 1, LPARAM(&text[0]), SMTO_ABORTIFHUNG,
                           kTextTimeoutMs, &copied))
    return std::wstring();
  text.resize(copied);
  return text;
}

std::wstring ProgramName(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return std::wstring();
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  std::wstring name;
  if (QueryFullProcessImageNameW(process, 0, path, &size)) {
    name.assign(path, size);
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
  }
  CloseHandle(process);
  return name;
}

std::string DescribeWindow(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  RECT r;
  GetWindowRect(window, &r);
  char head[160];
  snprintf(head, sizeof head,
           ",\"pid\":%lu,\"visible\":%s,\"enabled\":%s,\"rect\":[%ld,%ld,%ld,%ld]", processId,
           Flag(IsWindowVisible(window)), Flag(IsWindowEnabled(window)), r.left, r.top, r.right,
           r.bottom);
  std::string out = "{\"hwnd\":\"" + HandleText(window) +
                    "\",\"caption\":" + JsonString(WindowText(window)) +
                    ",\"class\":" + JsonString(ClassName(window)) +
                    ",\"exe\":" + JsonString(ProgramName(window)) + head + ",\"controls\":[";
  std::vector<HWND> children;
  EnumChildWindows(window, CollectChild, LPARAM(&children));
  for (size_t i = 0; i < children.size(); ++i) {
    HWND child = children[i];
    char state[128];
    snprintf(state, sizeof state, ",\"enabled\":%s,\"visible\":%s,\"style\":%lu}",
             Flag(IsWindowEnabled(child)), Flag(IsWindowVisible(child)),
             (unsigned long)GetWindowLongW(child, GWL_STYLE));
    out += (i ? "," : "") + std::string("{\"id\":") + std::to_string(GetDlgCtrlID(child)) +
           ",\"class\":" + JsonString(ClassName(child)) +
           ",\"text\":" + JsonString(WindowText(child)) + state;
  }
  return out + "]}";
}
