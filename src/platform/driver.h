// The scriptable driver of the host platform layer.
//
// On the host, everything a person or the operating system would do to the
// program is scripted here: which dialogs appear and what the user does in
// them, which button a message box gets, how child processes behave, the
// platform version and the access token, and where the Windows drives lie.
// Everything the program shows is recorded so that tests can read it back.
#ifndef VANTREL_HOST_DRIVER_H
#define VANTREL_HOST_DRIVER_H

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace host {

// Thrown by ExitProcess: the program's run ends here with `code`.
struct ProcessExit {
  UINT code;
};

// Runs `program` as a whole process would run: returns its exit code, also
// when it ends through ExitProcess.
int RunAsProcess(const std::function<int()> &program);

// Back to a fresh machine: no windows, no handles, no recorded events, the
// default answers below. Releases every block the program left allocated.
void Reset();

// ---- files and folders ----------------------------------------------------
// Z: is the POSIX root, as under Wine. Other drives are mapped explicitly.
void MapDrive(char letter, const std::string &posixFolder);
// The same as the SUBST command makes a drive: its root is an ordinary
// folder, which lists "." and ".." as any folder does.
void SubstituteDrive(char letter, const std::string &posixFolder);
// How the program's ANSI names on a drive become names on this machine.
// Windows reads them in the system's code page; given a conversion (to
// UTF-8, for instance), each path component below the drive's folder is
// converted on its way to the file system. Searches list the machine's
// names as they are. A drive without one, the default, keeps the bytes.
void SetHostNames(char letter, std::function<std::string(const std::string &)> convert);
// The Windows path of a POSIX path (through Z: unless a mapped drive holds it).
std::string WindowsPath(const std::string &posixPath);
// The POSIX path a Windows path names, or "" when it names nothing reachable.
std::string PosixPath(const std::string &windowsPath);
// After `bytes` more bytes have been written in all, every write falls short
// (a full disk). A negative value lifts the limit.
void LimitWrites(long long bytes);
// Called after every WriteFile with the number of bytes it wrote (the
// build machine's tools show progress from it).
void OnWrite(std::function<void(DWORD)> hook);
// Reads of a file opened from this Windows path deliver nothing once
// `bytes` bytes have been read through that handle (a disk taken out).
void CutReads(const std::string &windowsPath, long long bytes);
// From here until the next Reset, files and folders live in memory, on an
// empty machine (fuzzing: a fresh machine per input costs next to nothing).
// Drives are mapped as usual; their folders exist as soon as they are named.
void UseMemoryFiles();
// Setting up and reading back the machine, whichever store is in use; POSIX
// paths. False when it cannot be done.
bool MakeFolders(const std::string &posixPath);
bool PutFile(const std::string &posixPath, const std::string &bytes);
bool GetFile(const std::string &posixPath, std::string &bytes);
// Every file and folder below a folder, depth first, as POSIX paths.
std::vector<std::string> TreeBelow(const std::string &posixPath);
// The bias of local time against UTC, in minutes (UTC = local + bias).
void SetTimeZoneBias(int minutes);
// Directory calls that fail with this system error code, by call name
// ("CreateDirectoryA", "SetCurrentDirectoryA", ...).
void FailCall(const std::string &name, DWORD errorCode);
// What GetShortPathNameA gives for a path, written as the program will ask
// for it. Any other path that exists is its own short form (as on a volume
// without 8.3 names).
void SetShortPath(const std::string &longPath, const std::string &shortPath);
// Nothing can be created directly in this folder (Windows path): what a
// standard user meets in the system directory. CreateDirectoryA and
// CreateFileA fail there with ERROR_ACCESS_DENIED.
void DenyCreationIn(const std::string &windowsFolder);
// Called after each folder CreateDirectoryA made, with its POSIX path: a
// test can put something else in its place before the program looks again.
void OnFolderCreated(std::function<void(const std::string &)> hook);
// The security descriptor CreateDirectoryA applied to a folder it made
// (POSIX path): none on the Windows 95 family, which ignores it.
struct AccessEntry {
  BYTE type;
  BYTE flags;
  DWORD mask;
  std::string sid;  // "S-1-5-18"
};
struct FolderSecurity {
  bool given = false;
  WORD control = 0;
  std::vector<AccessEntry> entries;
};
FolderSecurity SecurityOf(const std::string &posixPath);

// ---- the system -------------------------------------------------------------
void SetModuleFileName(const std::string &windowsPath);
// What GetCommandLineA returns, the program's own name first, as whoever
// started it wrote it. Until set: the module file name in quotes, as
// Explorer starts a program.
void SetCommandLine(const std::string &commandLine);
void SetTempPath(const std::string &windowsPath);
void SetSystemDirectory(const std::string &windowsPath);
void SetWindowsDirectory(const std::string &windowsPath);
void SetCurrentDirectory(const std::string &windowsPath);
std::string CurrentDirectory();
// What GetVersionExA reports; `succeeds` false makes the call fail.
void SetVersion(DWORD platformId, DWORD major, DWORD minor, bool succeeds = true);
// Allocations of more than `bytes` fail (a negative value lifts the limit).
void FailAllocationsAbove(long long bytes);
// Blocks the program holds (allocated and not released) and open handles.
int LiveBlocks();
int OpenHandles();

// ---- modules and the DLL search ----------------------------------------------
// GetProcAddress finds a function of a later Windows when the version
// SetVersion reports has it: SetDefaultDllDirectories from 6.2 (Windows
// 8), SetDllDirectoryA from 5.1, SetSecurityDescriptorControl from 5.0, the
// other security descriptor calls on every NT; none on the Windows 95
// family. The event log gets "dll search NAME ARGUMENT" for the search
// calls, "load PATH" for every DLL loaded and "refused to load: PATH".
// Every DLL the program loaded, by the path it gave.
const std::vector<std::string> &LoadedLibraries();

// ---- access token -----------------------------------------------------------
struct TokenGroup {
  std::string sid;  // "S-1-5-32-544"
  DWORD attributes;
};
struct TokenScript {
  bool threadImpersonates = false;
  std::vector<TokenGroup> threadGroups;
  std::vector<TokenGroup> processGroups;
  std::string user = "S-1-5-21-1004336348-1177238915-682003330-1001";  // TokenUser
};
void SetToken(const TokenScript &script);
// SIDs allocated and not yet freed.
int LiveSids();
// Every call made to the token and SID functions, by name, in order.
const std::vector<std::string> &SecurityCalls();

// ---- windows, dialogs and messages ------------------------------------------
struct Dialog {
  HWND window;
  std::string templateName;
  // What a person does: a click on an enabled button, typing into a control.
  void Click(int id) const;
  void Type(int id, const std::string &text) const;
  // What the system's dialog manager does: Escape, the close box, Enter.
  void Command(int id) const;
  std::string Text(int id) const;
  std::string Caption() const;
  bool Enabled(int id) const;
  bool Ended() const;
  int Focus() const;
};
using DialogHandler = std::function<void(const Dialog &)>;
// Called once the dialog has handled WM_INITDIALOG, while it has not ended.
// A dialog still open after its handler gets the Escape key (command 2).
void OnDialog(const std::string &templateName, DialogHandler handler);
// The dialog the program shows now (innermost), if any.
const Dialog *CurrentDialog();

struct MessageBoxRecord {
  bool hasOwner;
  std::string caption;
  std::string text;
  UINT style;
};
// The button the user picks; by default OK (IDOK).
void OnMessageBox(std::function<int(const MessageBoxRecord &)> answer);
// The answer of someone who wants nothing further: Cancel where a box has
// OK and Cancel, OK where it has only OK (the two kinds the program shows).
// Tools that run the program unattended answer so without reading a box.
void AnswerEveryBoxWithCancel();
const std::vector<MessageBoxRecord> &MessageBoxes();
// How many windows the program has opened: every dialog it created, also
// one that ended before it could be drawn, and every message box shown.
int WindowsOpened();

// Called at every PeekMessageA, before the queue is looked at: lets a test
// post messages "while" the program pumps.
void OnPump(std::function<void()> hook);
int PumpCalls();

// A message the system sends to every top-level window of the thread (the
// open dialogs). As on Windows it is never posted: the dialog procedures
// receive it at the thread's next message retrieval (PeekMessageA, or the
// loop of a modal dialog or message box), and it wakes a wait whose mask
// holds QS_SENDMESSAGE.
void SendFromSystem(UINT message, WPARAM wParam, LPARAM lParam);
// The user logs off: WM_QUERYENDSESSION (lParam ENDSESSION_LOGOFF) is sent.
// A dialog procedure that returns FALSE leaves it to the default handling,
// which lets the session end; when every window lets it, each gets
// WM_ENDSESSION and the system ends the process with kEndedWithTheSession.
void LogOff();
// The exit code the host gives a process the system ends with the session.
const UINT kEndedWithTheSession = 0xE5E5;

// Screen size for GetSystemMetrics.
void SetScreenSize(int width, int height);
POINT WindowPosition(HWND window);

// Everything shown, in order: "dialog NAME", "end NAME RESULT", "caption
// NAME: TEXT", "text NAME ID: TEXT", "enable NAME ID 0|1", "msgbox CAPTION:
// TEXT", "process COMMAND LINE", "focus NAME ID"; and what the platform
// refused or noticed: "refused to start: COMMAND LINE", "closed a running
// child: COMMAND LINE", "sent NAME MESSAGE: RESULT", "session ended".
const std::vector<std::string> &Events();
// Every text control ID of template NAME showed, in order.
std::vector<std::string> TextHistory(const std::string &templateName, int id);

// ---- child processes --------------------------------------------------------
struct ProcessRecord {
  std::string application;
  std::string commandLine;
  std::string currentDirectory;
  DWORD creationFlags;
  STARTUPINFOA startup;
};
// Every wait for a child: the call, its time-out and wake mask (0 for
// WaitForSingleObject) and what it returned.
struct WaitRecord {
  std::string call;
  DWORD milliseconds;
  DWORD wakeMask;
  DWORD result;
};
const std::vector<WaitRecord> &Waits();

struct ProcessScript {
  bool starts = true;
  DWORD exitCode = 0;
  // How many waits find the child still running.
  int runningWaits = 0;
  // Called at each of those waits (for example to post a message).
  std::function<void()> whileRunning;
};
void OnCreateProcess(std::function<ProcessScript(const ProcessRecord &)> script);
const std::vector<ProcessRecord> &Processes();

}  // namespace host

#endif
