// Dialogs, controls, the message queue and message boxes, driven by script.
#include <string.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host_state.h"

struct HWND__ {
  std::string templateName;
  int id = 0;  // control id; 0 for a dialog
  HWND__ *parent = nullptr;
  std::string text;
  bool enabled = true;
  bool isButton = false;
  bool isEdit = false;
  DLGPROC procedure = nullptr;
  bool ended = false;
  INT_PTR result = 0;
  std::vector<std::unique_ptr<HWND__>> controls;
  RECT rect{};
};

namespace host {
namespace {
struct ControlTemplate {
  int id;
  bool isButton;
  const char *text;
  bool isEdit = false;
};
struct DialogTemplate {
  const char *name;
  const char *caption;
  int width, height;  // dialog units
  std::vector<ControlTemplate> controls;
};

// The templates of the resource script, as the dialog manager builds them:
// the table is written from the script itself when the layer is built.
const std::vector<DialogTemplate> &Templates() {
  static const std::vector<DialogTemplate> templates = {
#include "dialog_templates.inc"
  };
  return templates;
}

std::vector<std::string> events;
std::map<std::string, DialogHandler> dialogHandlers;
std::function<int(const MessageBoxRecord &)> messageBoxAnswer;
std::vector<MessageBoxRecord> messageBoxes;
std::function<void()> pumpHook;
int pumpCalls;
std::deque<MSG> queue;
std::vector<HWND> openDialogs;  // innermost last
std::deque<Dialog> openDialogViews;  // a deque keeps outer views valid while inner ones open
std::vector<std::unique_ptr<HWND__>> windows;
int screenWidth = 1024, screenHeight = 768;
int focusId = -1;
int windowsOpened;

struct SentMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::deque<SentMessage> sentMessages;

// An edit control of the Windows 95 family keeps its text in a 16-bit
// segment: somewhat less than 64 KiB.
const size_t kNinetyFiveEditLimit = 0xFFFF;

// Message box styles Windows 95 and NT 4.0 know: six button sets, four
// icons, four default buttons, three modalities, and the single flags from
// MB_HELP to MB_SERVICE_NOTIFICATION.
const UINT kLastButtonSet = 5;
const UINT kKnownSingleFlags =
    0x4000 | 0x8000 | 0x10000 | 0x20000 | 0x40000 | 0x80000 | 0x100000 | 0x200000;

std::string Upper(std::string s) {
  for (char &c : s) c = char(std::toupper((unsigned char)c));
  return s;
}

bool IsLive(HWND window) {
  for (auto &w : windows) {
    if (w.get() == window) return true;
    for (auto &c : w->controls) {
      if (c.get() == window) return true;
    }
  }
  return false;
}

HWND DialogOf(HWND window) { return window && window->parent ? window->parent : window; }

void Record(const std::string &event) { events.push_back(event); }

std::string Describe(HWND control) {
  return control->parent->templateName + " " + std::to_string(control->id);
}

LRESULT CallProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!dialog || !dialog->procedure || dialog->ended) return 0;
  return dialog->procedure(dialog, message, wParam, lParam);
}

std::string MessageName(UINT message) {
  if (message == WM_QUERYENDSESSION) return "WM_QUERYENDSESSION";
  if (message == WM_ENDSESSION) return "WM_ENDSESSION";
  return std::to_string(message);
}

bool MessageBoxStyleKnown(UINT style) {
  UINT icon = style & 0xF0, defaultButton = style & 0xF00, modality = style & 0x3000;
  return (style & 0xF) <= kLastButtonSet && icon <= 0x40 && defaultButton <= 0x300 &&
         modality != 0x3000 && (style & ~0x3FFFu & ~kKnownSingleFlags) == 0;
}

// Hands each message the system sent to every open dialog. After a
// WM_QUERYENDSESSION that every dialog let pass (a procedure that returns
// FALSE leaves it to the default handling, which says yes), the session
// ends: each dialog gets WM_ENDSESSION and the process is ended.
void DeliverSentMessages() {
  while (!sentMessages.empty()) {
    SentMessage m = sentMessages.front();
    sentMessages.pop_front();
    std::vector<HWND> receivers = openDialogs;  // a procedure may end its dialog
    bool sessionEnds = m.message == WM_QUERYENDSESSION;
    for (HWND dialog : receivers) {
      if (!IsLive(dialog)) continue;
      LRESULT answer = CallProcedure(dialog, m.message, m.wParam, m.lParam);
      if (m.message == WM_QUERYENDSESSION && answer != FALSE) sessionEnds = false;
      Record("sent " + dialog->templateName + " " + MessageName(m.message) + ": " +
             std::to_string(answer));
    }
    if (sessionEnds) {
      for (HWND dialog : receivers) {
        if (IsLive(dialog)) CallProcedure(dialog, WM_ENDSESSION, TRUE, m.lParam);
      }
      Record("session ended");
      throw ProcessExit{kEndedWithTheSession};
    }
  }
}

void SendCommand(HWND dialog, int id) {
  CallProcedure(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                LPARAM(GetDlgItem(dialog, id)));
}

HWND CreateDialogWindow(const DialogTemplate &t, DLGPROC procedure) {
  auto window = std::make_unique<HWND__>();
  window->templateName = t.name;
  window->text = t.caption;
  window->procedure = procedure;
  // Dialog units of an 8-point "MS Sans Serif" dialog: 6 x 13 pixel base.
  int width = t.width * 6 / 4, height = t.height * 13 / 8 + 24;
  window->rect = {0, 0, width, height};
  for (const ControlTemplate &c : t.controls) {
    auto control = std::make_unique<HWND__>();
    control->templateName = t.name;
    control->id = c.id;
    control->parent = window.get();
    control->text = c.text;
    control->isButton = c.isButton;
    control->isEdit = c.isEdit;
    window->controls.push_back(std::move(control));
  }
  windows.push_back(std::move(window));
  return windows.back().get();
}

void DestroyDialogWindow(HWND dialog) {
  windows.erase(std::remove_if(windows.begin(), windows.end(),
                               [dialog](const std::unique_ptr<HWND__> &w) { return w.get() == dialog; }),
                windows.end());
}
}  // namespace

void Dialog::Click(int id) const {
  HWND control = GetDlgItem(window, id);
  if (!control || !control->enabled || window->ended) return;
  Record("click " + Describe(control));
  SendCommand(window, id);
}

void Dialog::Type(int id, const std::string &text) const {
  HWND control = GetDlgItem(window, id);
  if (control) control->text = text;
}

void Dialog::Command(int id) const {
  if (window->ended) return;
  Record("command " + templateName + " " + std::to_string(id));
  SendCommand(window, id);
}

std::string Dialog::Text(int id) const {
  HWND control = GetDlgItem(window, id);
  return control ? control->text : "";
}
std::string Dialog::Caption() const { return window->text; }
bool Dialog::Enabled(int id) const {
  HWND control = GetDlgItem(window, id);
  return control && control->enabled;
}
bool Dialog::Ended() const { return window->ended; }
int Dialog::Focus() const { return focusId; }

void OnDialog(const std::string &templateName, DialogHandler handler) {
  dialogHandlers[Upper(templateName)] = std::move(handler);
}

const Dialog *CurrentDialog() { return openDialogViews.empty() ? nullptr : &openDialogViews.back(); }

void OnMessageBox(std::function<int(const MessageBoxRecord &)> answer) {
  messageBoxAnswer = std::move(answer);
}
void AnswerEveryBoxWithCancel() {
  messageBoxAnswer = [](const MessageBoxRecord &box) {
    return (box.style & 0xF) == MB_OKCANCEL ? IDCANCEL : IDOK;
  };
}
const std::vector<MessageBoxRecord> &MessageBoxes() { return messageBoxes; }
int WindowsOpened() { return windowsOpened; }
void OnPump(std::function<void()> hook) { pumpHook = std::move(hook); }
void SendFromSystem(UINT message, WPARAM wParam, LPARAM lParam) {
  sentMessages.push_back(SentMessage{message, wParam, lParam});
}
void LogOff() { SendFromSystem(WM_QUERYENDSESSION, 0, LPARAM(ENDSESSION_LOGOFF)); }
bool SentMessagesPending() { return !sentMessages.empty(); }
int PumpCalls() { return pumpCalls; }
void SetScreenSize(int width, int height) {
  screenWidth = width;
  screenHeight = height;
}
POINT WindowPosition(HWND window) { return {window->rect.left, window->rect.top}; }
const std::vector<std::string> &Events() { return events; }
void RecordEvent(const std::string &event) { Record(event); }

std::vector<std::string> TextHistory(const std::string &templateName, int id) {
  std::string prefix = "text " + Upper(templateName) + " " + std::to_string(id) + ": ";
  std::vector<std::string> texts;
  for (const std::string &e : events) {
    if (e.compare(0, prefix.size(), prefix) == 0) texts.push_back(e.substr(prefix.size()));
  }
  return texts;
}

void ResetWindows() {
  events.clear();
  dialogHandlers.clear();
  messageBoxAnswer = nullptr;
  messageBoxes.clear();
  pumpHook = nullptr;
  pumpCalls = 0;
  queue.clear();
  sentMessages.clear();
  openDialogs.clear();
  openDialogViews.clear();
  windows.clear();
  screenWidth = 1024;
  screenHeight = 768;
  focusId = -1;
  windowsOpened = 0;
}
}  // namespace host

using namespace host;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR name, HWND, DLGPROC procedure, LPARAM param) {
  const DialogTemplate *t = nullptr;
  for (const DialogTemplate &candidate : Templates()) {
    if (Upper(candidate.name) == Upper(name)) t = &candidate;
  }
  if (!t) {
    SetLastError(1814);  // ERROR_RESOURCE_NAME_NOT_FOUND
    return -1;
  }
  HWND dialog = CreateDialogWindow(*t, procedure);
  ++windowsOpened;
  openDialogs.push_back(dialog);
  openDialogViews.push_back(Dialog{dialog, t->name});
  Record("dialog " + std::string(t->name));
  CallProcedure(dialog, WM_INITDIALOG, 0, param);
  if (!dialog->ended) {
    auto handler = dialogHandlers.find(t->name);
    if (handler != dialogHandlers.end()) handler->second(openDialogViews.back());
  }
  // The dialog's own loop takes what the system sent meanwhile.
  if (!dialog->ended) DeliverSentMessages();
  if (!dialog->ended) openDialogViews.back().Command(IDCANCEL);
  INT_PTR result = dialog->ended ? dialog->result : -1;
  openDialogs.pop_back();
  openDialogViews.pop_back();
  DestroyDialogWindow(dialog);
  return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
  if (!IsLive(dialog) || dialog->parent) return FALSE;
  dialog->ended = true;
  dialog->result = result;
  Record("end " + dialog->templateName + " " + std::to_string(result));
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  if (!IsLive(dialog)) return nullptr;
  for (auto &c : dialog->controls) {
    if (c->id == id) return c.get();
  }
  return nullptr;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
  HWND control = GetDlgItem(dialog, id);
  if (!control || size <= 0) return 0;
  size_t n = std::min(control->text.size(), size_t(size - 1));
  control->text.copy(buffer, n);
  buffer[n] = 0;
  return UINT(n);
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  if (!IsLive(window)) return FALSE;
  if (window->isEdit && !NtFamily() && text && strlen(text) >= kNinetyFiveEditLimit) return FALSE;
  window->text = text ? text : "";
  if (window->parent) {
    Record("text " + Describe(window) + ": " + window->text);
  } else {
    Record("caption " + window->templateName + ": " + window->text);
  }
  return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsLive(window)) return 0;
  switch (message) {
    case WM_SETTEXT:
      return SetWindowTextA(window, reinterpret_cast<LPCSTR>(lParam));
    case WM_GETTEXT: {
      if (wParam == 0) return 0;
      size_t n = std::min(window->text.size(), size_t(wParam - 1));
      window->text.copy(reinterpret_cast<char *>(lParam), n);
      reinterpret_cast<char *>(lParam)[n] = 0;
      return LRESULT(n);
    }
    case BM_CLICK:
      // As on Windows, a disabled button ignores the click.
      if (window->parent && window->isButton && window->enabled) SendCommand(window->parent, window->id);
      return 0;
  }
  if (!window->parent) return CallProcedure(window, message, wParam, lParam);
  return 0;
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  queue.push_back(MSG{window, message, wParam, lParam, 0, {0, 0}});
  return TRUE;
}

HWND WINAPI SetFocus(HWND window) {
  if (IsLive(window) && window->parent) {
    focusId = window->id;
    Record("focus " + Describe(window));
  }
  return nullptr;
}

BOOL WINAPI SetForegroundWindow(HWND window) { return IsLive(window); }

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
  if (!IsLive(window)) return FALSE;
  BOOL wasDisabled = !window->enabled;
  window->enabled = enable != 0;
  if (window->parent) Record("enable " + Describe(window) + " " + (enable ? "1" : "0"));
  return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) { return IsLive(window) && window->enabled; }

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
  if (!IsLive(window)) return FALSE;
  *rect = window->rect;
  return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
  return index == SM_CXSCREEN ? screenWidth : index == SM_CYSCREEN ? screenHeight : 0;
}

BOOL WINAPI SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
  if (!IsLive(window)) return FALSE;
  RECT &r = window->rect;
  int width = (flags & SWP_NOSIZE) ? r.right - r.left : cx;
  int height = (flags & SWP_NOSIZE) ? r.bottom - r.top : cy;
  r = {x, y, x + width, y + height};
  return TRUE;
}

// Windows 95 and NT 4.0 know PM_NOREMOVE, PM_REMOVE and PM_NOYIELD only. A
// message the system sent is handed to its windows here and never returned.
BOOL WINAPI PeekMessageA(LPMSG message, HWND, UINT, UINT, UINT remove) {
  ++pumpCalls;
  if (remove & ~UINT(PM_REMOVE | PM_NOYIELD)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (pumpHook) pumpHook();
  DeliverSentMessages();
  if (queue.empty()) return FALSE;
  *message = queue.front();
  if (remove & PM_REMOVE) queue.pop_front();
  return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG *) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG *message) {
  if (message->message == WM_QUIT || !IsLive(message->hwnd)) return 0;
  return CallProcedure(DialogOf(message->hwnd), message->message, message->wParam, message->lParam);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  MessageBoxRecord record{owner != nullptr, caption ? caption : "", text ? text : "", style};
  if (!MessageBoxStyleKnown(style)) {
    Record("msgbox refused: " + record.text);
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  messageBoxes.push_back(record);
  ++windowsOpened;
  Record("msgbox " + record.caption + ": " + record.text);
  int answer = messageBoxAnswer ? messageBoxAnswer(record) : IDOK;
  // The box's own loop takes what the system sent while it was open.
  DeliverSentMessages();
  return answer;
}
