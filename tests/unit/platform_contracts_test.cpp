// The host platform layer holds the program to what Windows 95 and NT 4.0
// accept: each call below breaks one documented rule and must fail as it
// would there, and the case beside it, just inside the rule, must not be
// refused for that reason.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/host_machine.h"

using namespace testing_support;

namespace {

class PlatformContract : public HostMachine {
 protected:
  // A Windows path of exactly `length` characters under C:\, made of
  // components short enough for the host's file system.
  static std::string PathOfLength(size_t length) {
    std::string path = "C:";
    while (path.size() + 101 < length) path += "\\" + std::string(100, 'd');
    path += "\\" + std::string(length - path.size() - 1, 'f');
    return path;
  }

  // The scratch-relative POSIX path of a path on C:.
  static std::string Relative(std::string path) {
    path = path.substr(3);
    for (char &c : path) {
      if (c == '\\') c = '/';
    }
    return path;
  }

  struct Call {
    const char *what;
    std::function<bool()> succeeds;
    DWORD error;  // when refused
  };

  // Each call is refused with its error.
  static void ExpectRefused(const std::vector<Call> &calls) {
    for (const Call &c : calls) {
      SetLastError(0);
      EXPECT_FALSE(c.succeeds()) << c.what;
      EXPECT_EQ(c.error, GetLastError()) << c.what;
    }
  }
};

HANDLE OpenForReading(const char *path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(PlatformContract, FileCallsRefuseWhatWindows95AndNt4Refuse) {
  WriteFile("temp/a.txt", "abc");
  std::string tooLong = PathOfLength(MAX_PATH);  // no room for the NUL
  DWORD got = 0;
  char buffer[4];
  HANDLE file = OpenForReading("C:\\temp\\a.txt");
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  char overlapped[20] = {};
  HANDLE query = CreateFileA("C:\\temp\\a.txt", 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE writer = CreateFileA("C:\\temp\\c.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, query);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  ExpectRefused({
      {"size through a handle opened for neither reading nor writing",
       [&] { return GetFileSize(query, nullptr) != INVALID_FILE_SIZE; }, ERROR_ACCESS_DENIED},
      {"read through a handle opened for writing",
       [&] { return ::ReadFile(writer, buffer, 1, &got, nullptr) != 0; }, ERROR_ACCESS_DENIED},
      {"write through a handle opened for reading",
       [&] { return ::WriteFile(file, "x", 1, &got, nullptr) != 0; }, ERROR_ACCESS_DENIED},
      {"read through a handle opened for neither",
       [&] { return ::ReadFile(query, buffer, 1, &got, nullptr) != 0; }, ERROR_ACCESS_DENIED},
      {"write through a handle opened for neither",
       [&] { return ::WriteFile(query, "x", 1, &got, nullptr) != 0; }, ERROR_ACCESS_DENIED},
      {"name of MAX_PATH characters",
       [&] { return OpenForReading(tooLong.c_str()) != INVALID_HANDLE_VALUE; },
       ERROR_FILENAME_EXCED_RANGE},
      {"FILE_SHARE_DELETE (NT only)",
       [] {
         return CreateFileA("C:\\temp\\a.txt", GENERIC_READ, FILE_SHARE_READ | 4, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr) != INVALID_HANDLE_VALUE;
       },
       ERROR_INVALID_PARAMETER},
      {"overlapped file (NT only)",
       [] {
         return CreateFileA("C:\\temp\\a.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0x40000000u, nullptr) != INVALID_HANDLE_VALUE;
       },
       ERROR_INVALID_PARAMETER},
      {"normal attribute combined",
       [] {
         return CreateFileA("C:\\temp\\b.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_READONLY,
                            nullptr) != INVALID_HANDLE_VALUE;
       },
       ERROR_INVALID_PARAMETER},
      {"read without a count", [&] { return ::ReadFile(file, buffer, 1, nullptr, nullptr) != 0; },
       ERROR_INVALID_PARAMETER},
      {"overlapped read (Windows 95 has no asynchronous file I/O)",
       [&] {
         return ::ReadFile(file, buffer, 1, &got, reinterpret_cast<LPOVERLAPPED>(overlapped)) != 0;
       },
       ERROR_INVALID_PARAMETER},
      {"unknown move method",
       [&] { return SetFilePointer(file, 0, nullptr, 3) != INVALID_SET_FILE_POINTER; },
       ERROR_INVALID_PARAMETER},
      {"deleting an open file (NT refuses)", [] { return DeleteFileA("C:\\temp\\a.txt") != 0; },
       ERROR_SHARING_VIOLATION},
      {"folder path without room for an 8.3 name",
       [] { return CreateDirectoryA(PathOfLength(MAX_PATH - 12).c_str(), nullptr) != 0; },
       ERROR_FILENAME_EXCED_RANGE},
      {"search pattern ending in a backslash",
       [] {
         WIN32_FIND_DATAA found;
         return FindFirstFileA("C:\\temp\\", &found) != INVALID_HANDLE_VALUE;
       },
       ERROR_FILE_NOT_FOUND},
      {"attributes of a name of MAX_PATH characters",
       [&] { return GetFileAttributesA(tooLong.c_str()) != INVALID_FILE_ATTRIBUTES; },
       ERROR_FILENAME_EXCED_RANGE},
  });
  // Within the rules the same calls go through.
  EXPECT_EQ(3u, GetFileSize(file, nullptr));
  EXPECT_TRUE(::WriteFile(writer, "x", 1, &got, nullptr));
  EXPECT_TRUE(CloseHandle(query));
  EXPECT_TRUE(CloseHandle(writer));
  EXPECT_TRUE(::ReadFile(file, buffer, 3, &got, nullptr));
  EXPECT_EQ(3u, got);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_TRUE(DeleteFileA("C:\\temp\\a.txt"));
  std::string folder = PathOfLength(MAX_PATH - 13);
  MakeFolder(Relative(folder.substr(0, folder.rfind('\\'))));
  EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
}

// A handle that reads a file nobody may write keeps bytes read ahead; the
// file pointer and what ReadFile delivers must be as for any other handle,
// on both stores: every move below is made through a handle that reads
// ahead and one that shares writing (and so does not), and each must land
// where the file's own bytes say and read them.
TEST_F(PlatformContract, FilePointerAndReadsAreExactWhateverTheHandleKeeps) {
  std::string content(100000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = char((i * 7 + i / 251) & 0xFF);
  struct Move {
    LONG distance;
    DWORD method;
    DWORD count;  // then read this many bytes
  };
  const long long size = (long long)content.size();
  const Move moves[] = {
      {0, FILE_BEGIN, 30},       {10, FILE_CURRENT, 15},    {-20, FILE_CURRENT, 4},
      {40000, FILE_BEGIN, 5},    {-39000, FILE_CURRENT, 5}, {-1, FILE_BEGIN, 5},
      {1000, FILE_BEGIN, 40000}, {-3, FILE_END, 10},        {5, FILE_END, 10},
      {32760, FILE_BEGIN, 20},   {0, FILE_CURRENT, 70000},  {-70000, FILE_CURRENT, 1},
  };
  for (bool memory : {false, true}) {
    if (memory) host::UseMemoryFiles();
    ASSERT_TRUE(host::MakeFolders(Posix("temp")) && host::PutFile(Posix("temp/big.bin"), content));
    for (DWORD share : {DWORD(FILE_SHARE_READ), DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE)}) {
      HANDLE file = CreateFileA("C:\\temp\\big.bin", GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, file);
      long long at = 0;  // where the pointer must be
      for (const Move &m : moves) {
        SCOPED_TRACE(testing::Message() << (memory ? "memory" : "disk") << ", share " << share
                                        << ", move " << m.distance << " by " << m.method);
        long long base = m.method == FILE_BEGIN ? 0 : m.method == FILE_CURRENT ? at : size;
        DWORD moved = SetFilePointer(file, m.distance, nullptr, m.method);
        if (base + m.distance < 0) {
          EXPECT_EQ(INVALID_SET_FILE_POINTER, moved);
          EXPECT_EQ(131u, GetLastError());  // ERROR_NEGATIVE_SEEK; the pointer stays
        } else {
          at = base + m.distance;
          EXPECT_EQ(DWORD(at), moved);
        }
        std::string got(m.count, '\0');
        DWORD n = 99;
        EXPECT_TRUE(::ReadFile(file, &got[0], m.count, &n, nullptr));
        std::string expected = at < size ? content.substr(size_t(at), m.count) : "";
        EXPECT_EQ(expected.size(), n);
        EXPECT_TRUE(got.compare(0, expected.size(), expected) == 0);
        at += n;
      }
      EXPECT_TRUE(CloseHandle(file));
    }
  }
}

// A search for one name that finds nothing says whether the folder it
// looked in is there (ERROR_FILE_NOT_FOUND) or not (ERROR_PATH_NOT_FOUND),
// on both stores.
TEST_F(PlatformContract, SearchForAMissingNameTellsWhetherItsFolderIsThere) {
  const struct {
    const char *pattern;
    DWORD error;
  } searches[] = {
      {"C:\\temp\\none.txt", ERROR_FILE_NOT_FOUND},
      {"C:none.txt", ERROR_FILE_NOT_FOUND},
      {"C:\\temp\\..\\none.txt", ERROR_FILE_NOT_FOUND},
      {"C:\\nofolder\\none.txt", ERROR_PATH_NOT_FOUND},
      {"C:\\temp\\a.txt\\none.txt", ERROR_PATH_NOT_FOUND},
  };
  for (bool memory : {false, true}) {
    if (memory) host::UseMemoryFiles();
    ASSERT_TRUE(host::MakeFolders(Posix("temp")) && host::PutFile(Posix("temp/a.txt"), "a"));
    for (const auto &search : searches) {
      WIN32_FIND_DATAA found;
      SetLastError(0);
      EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(search.pattern, &found)) << search.pattern;
      EXPECT_EQ(search.error, GetLastError()) << search.pattern << (memory ? " in memory" : "");
    }
  }
}

// CREATE_ALWAYS and OPEN_ALWAYS succeed either way and say with
// ERROR_ALREADY_EXISTS that the file was there; on both stores.
TEST_F(PlatformContract, OpeningAlwaysSaysWhetherTheFileWasThere) {
  for (bool memory : {false, true}) {
    if (memory) host::UseMemoryFiles();
    ASSERT_TRUE(host::MakeFolders(Posix("temp")) && host::PutFile(Posix("temp/a.txt"), "a"));
    for (DWORD disposition : {DWORD(CREATE_ALWAYS), DWORD(OPEN_ALWAYS)}) {
      for (const char *name : {"C:\\temp\\a.txt", "C:\\temp\\new.txt"}) {
        DeleteFileA("C:\\temp\\new.txt");
        SetLastError(12345);
        HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << name;
        DWORD expected = std::string(name).find("new") == std::string::npos
                             ? DWORD(ERROR_ALREADY_EXISTS)
                             : DWORD(0);
        EXPECT_EQ(expected, GetLastError())
            << name << " disposition " << disposition << (memory ? " in memory" : "");
        CloseHandle(file);
      }
    }
  }
}

TEST_F(PlatformContract, WaitsTakeOnlyTheEightClassicWakeBits) {
  // The cross compiler's QS_ALLINPUT for current Windows carries raw input,
  // touch and pointer bits that Windows 95 to 2000 do not know.
  EXPECT_EQ(0x1CFFu, DWORD(QS_ALLINPUT));
  WriteFile("windows/system32/rundll32.exe", "MZ");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  char line[] = "C:\\windows\\system32\\rundll32.exe x";
  host::OnCreateProcess([](const host::ProcessRecord &) {
    host::ProcessScript s;
    s.runningWaits = 5;
    return s;
  });
  ASSERT_TRUE(CreateProcessA("C:\\windows\\system32\\rundll32.exe", line, nullptr, nullptr, FALSE,
                             0, nullptr, nullptr, &startup, &child));
  for (DWORD mask : {DWORD(QS_ALLINPUT), DWORD(QS_RAWINPUT), DWORD(QS_ALLPOSTMESSAGE)}) {
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, MsgWaitForMultipleObjects(1, &child.hProcess, FALSE, INFINITE, mask))
        << mask;
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError()) << mask;
  }
  EXPECT_EQ(WAIT_OBJECT_0 + 1,
            MsgWaitForMultipleObjects(1, &child.hProcess, FALSE, INFINITE, 0xFF));
  EXPECT_EQ(WAIT_FAILED, MsgWaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, &child.hProcess, FALSE,
                                                   INFINITE, 0xFF));
  EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(child.hProcess, 10));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, INFINITE));
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(nullptr, 10));
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_EQ(0, host::OpenHandles());
}

struct StartCase {
  const char *what;
  const char *application;  // null: the command line names the program
  const char *commandLine;
  DWORD flags;
  DWORD error;  // 0: starts
};

void PrintTo(const StartCase &c, std::ostream *out) { *out << c.what; }

class ProcessStart : public PlatformContract, public ::testing::WithParamInterface<StartCase> {};

TEST_P(ProcessStart, FollowsTheRulesForItsKindOfProgram) {
  WriteFile("windows/system32/rundll32.exe", "MZ");
  WriteSixteenBitProgram("windows/rundll.exe");
  WriteSixteenBitProgram(std::string(70, 'w') + "/old.exe");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  const StartCase &c = GetParam();
  std::string line = c.commandLine;
  PROCESS_INFORMATION child = {};
  SetLastError(0);
  BOOL started = CreateProcessA(c.application, &line[0], nullptr, nullptr, FALSE, c.flags, nullptr,
                                nullptr, &startup, &child);
  EXPECT_EQ(c.error == 0, started != 0);
  if (started) {
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  } else {
    EXPECT_EQ(c.error, GetLastError());
  }
}

const char kRundll[] = "C:\\windows\\rundll.exe";
const char kRundll32[] = "C:\\windows\\system32\\rundll32.exe";
// 49 characters of installer arguments and an INF path: 120 in all, the
// room "rundll.exe" leaves.
const std::string kFittingTail =
    "setupx.dll,InstallHinfSection DefaultInstall 132 " + std::string(71, 'i');
const std::string kTailFits = std::string(kRundll) + " " + kFittingTail;
const std::string kTailTooLong = kTailFits + "i";
const std::string kOldInFolder = "C:\\" + std::string(70, 'w') + "\\old.exe";
const std::string kOldLine = kOldInFolder + " x";

INSTANTIATE_TEST_SUITE_P(
    Cases, ProcessStart,
    ::testing::Values(
        // KB Q175986: Windows 95 needs the 16-bit program's own name first.
        StartCase{"16-bit program under another first token", kRundll,
                  "rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 C:\\a.inf", 0,
                  ERROR_FILE_NOT_FOUND},
        StartCase{"16-bit program named first", kRundll,
                  "C:\\windows\\rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 "
                  "C:\\a.inf",
                  0, 0},
        StartCase{"16-bit program named first in quotes", kRundll,
                  "\"C:\\windows\\rundll.exe\" setupx.dll", 0, 0},
        StartCase{"16-bit program from the command line alone", nullptr,
                  "C:\\windows\\rundll.exe setupx.dll", 0, 0},
        // KB Q198429: 130 characters of tail less the program's file name.
        StartCase{"16-bit command tail that fits", kRundll, kTailFits.c_str(), 0, 0},
        StartCase{"16-bit command tail one too long", kRundll, kTailTooLong.c_str(), 0,
                  ERROR_INVALID_PARAMETER},
        // KB Q241712: a 16-bit program in a folder of more than 64 characters.
        StartCase{"16-bit program in a long folder", kOldInFolder.c_str(), kOldLine.c_str(), 0,
                  ERROR_INVALID_PARAMETER},
        // KB Q175986: a 32-bit program takes any command line.
        StartCase{"32-bit program under another first token", kRundll32,
                  "rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 C:\\a.inf", 0, 0},
        StartCase{"program that is not there", "C:\\windows\\system32\\gone.exe", "gone.exe", 0,
                  ERROR_FILE_NOT_FOUND},
        StartCase{"no extension added", "C:\\windows\\system32\\rundll32", "rundll32", 0,
                  ERROR_FILE_NOT_FOUND},
        StartCase{"priority class of Windows 2000", kRundll32, "rundll32.exe",
                  BELOW_NORMAL_PRIORITY_CLASS, ERROR_INVALID_PARAMETER},
        StartCase{"two priority classes", kRundll32, "rundll32.exe",
                  NORMAL_PRIORITY_CLASS | HIGH_PRIORITY_CLASS, ERROR_INVALID_PARAMETER},
        StartCase{"new console and detached", kRundll32, "rundll32.exe",
                  CREATE_NEW_CONSOLE | DETACHED_PROCESS, ERROR_INVALID_PARAMETER},
        StartCase{"the stub's second run", kRundll32, "rundll32.exe",
                  CREATE_NEW_CONSOLE | HIGH_PRIORITY_CLASS, 0}));

TEST_F(PlatformContract, StartupInformationMustBeTheClassicRecord) {
  WriteFile("windows/system32/rundll32.exe", "MZ");
  char line[] = "rundll32.exe";
  PROCESS_INFORMATION child;
  for (int broken = 0; broken < 3; ++broken) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (broken == 0) startup.cb += 4;
    if (broken == 1) startup.cbReserved2 = 2;
    if (broken == 2) startup.dwFlags = 0x800;  // STARTF_TITLEISLINKNAME, later than NT 4.0
    SetLastError(0);
    EXPECT_FALSE(CreateProcessA(kRundll32, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &child))
        << broken;
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError()) << broken;
  }
}

TEST_F(PlatformContract, SystemCallsKeepTheirOldestLimits) {
  std::string deep = PathOfLength(MAX_PATH - 1);  // 259: one more than fits without a backslash
  ExpectRefused({
      {"current directory of 259 characters",
       [&] { return SetCurrentDirectoryA(deep.c_str()) != 0; }, ERROR_FILENAME_EXCED_RANGE},
      {"heap flag of another function",
       [] { return HeapAlloc(GetProcessHeap(), 0x2, 16) != nullptr; }, ERROR_INVALID_PARAMETER},
      {"version record of the later, longer kind",
       [] {
         char record[156] = {};
         reinterpret_cast<OSVERSIONINFOA *>(record)->dwOSVersionInfoSize = sizeof record;
         return GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(record)) != 0;
       },
       ERROR_INVALID_PARAMETER},
  });
  // 258 characters are not refused for their length (the folder is missing).
  SetLastError(0);
  EXPECT_FALSE(SetCurrentDirectoryA(deep.substr(0, deep.size() - 1).c_str()));
  EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
  // A module path that does not fit is cut and left unterminated.
  host::SetModuleFileName("C:\\dist\\setup.exe");
  char name[8];
  memset(name, '#', sizeof name);
  EXPECT_EQ(8u, GetModuleFileNameA(nullptr, name, 8));
  EXPECT_EQ(std::string("C:\\dist\\"), std::string(name, 8));
  // The command line is the system's string: the same at every call, and
  // not the program's to change.
  EXPECT_EQ("\"C:\\dist\\setup.exe\"", std::string(GetCommandLineA()));
  host::SetCommandLine("setup.exe /Q");
  char *line = GetCommandLineA();
  EXPECT_EQ(line, GetCommandLineA());
  EXPECT_EQ("setup.exe /Q", std::string(line));
  EXPECT_DEATH(line[0] = 'S', "");
}

TEST_F(PlatformContract, TokenCallsAreStubsOnTheWindows95Family) {
  host::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 0);
  HANDLE token = nullptr;
  SID_IDENTIFIER_AUTHORITY nt = {{0, 0, 0, 0, 0, 5}};
  PSID sid = nullptr;
  ExpectRefused({
      {"OpenProcessToken",
       [&] { return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) != 0; },
       ERROR_CALL_NOT_IMPLEMENTED},
      {"OpenThreadToken",
       [&] { return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token) != 0; },
       ERROR_CALL_NOT_IMPLEMENTED},
      {"AllocateAndInitializeSid",
       [&] { return AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &sid) != 0; },
       ERROR_CALL_NOT_IMPLEMENTED},
  });
  host::SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  CloseHandle(token);
}

TEST_F(PlatformContract, DatesAfter2099DoNotConvertOnTheWindows95Family) {
  FILETIME time;
  WORD newYear2100 = WORD((2100 - 1980) << 9 | 1 << 5 | 1);
  EXPECT_TRUE(DosDateTimeToFileTime(newYear2100, 0, &time));
  host::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
  EXPECT_FALSE(DosDateTimeToFileTime(newYear2100, 0, &time));
  EXPECT_TRUE(DosDateTimeToFileTime(WORD(newYear2100 - (1 << 9)), 0, &time));  // 2099
}

INT_PTR CALLBACK QuietProcedure(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST_F(PlatformContract, WindowCallsRefuseFlagsOfLaterWindows) {
  MSG message;
  SetLastError(0);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE | 0x1C070000u));  // PM_QS_INPUT
  EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
  PostMessageA(nullptr, WM_PAINT, 0, 0);
  EXPECT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD));

  EXPECT_EQ(0, MessageBoxA(nullptr, "t", "c", 6));  // MB_CANCELTRYCONTINUE, Windows 2000
  EXPECT_EQ(IDOK, MessageBoxA(nullptr, "t", "c", MB_OKCANCEL | MB_ICONINFORMATION));
  ASSERT_EQ(1u, host::MessageBoxes().size());

  // The licence's edit control on the Windows 95 family holds less than 64 KiB.
  std::string big(0xFFFF, 'L');
  for (bool nt : {true, false}) {
    host::SetVersion(nt ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS, 4, 0);
    std::string shown;
    host::OnDialog("DLG_LIC", [&](const host::Dialog &d) {
      SetWindowTextA(GetDlgItem(d.window, 2002), big.c_str());
      shown = d.Text(2002);
      SetWindowTextA(GetDlgItem(d.window, 2004), big.c_str());  // a static control: no limit
      EXPECT_EQ(big, d.Text(2004));
    });
    DialogBoxParamA(nullptr, "DLG_LIC", nullptr, QuietProcedure, 0);
    EXPECT_EQ(nt ? big : std::string(), shown) << nt;
  }
}

// What the main dialog's procedure saw of the messages the system sent.
std::vector<std::pair<UINT, WPARAM>> systemMessages;
INT_PTR queryAnswer = FALSE;

INT_PTR CALLBACK SessionProcedure(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_QUERYENDSESSION || message == WM_ENDSESSION) {
    systemMessages.push_back({message, wParam});
    return message == WM_QUERYENDSESSION ? queryAnswer : FALSE;
  }
  return FALSE;
}

TEST_F(PlatformContract, SentMessagesReachTheDialogAtTheNextRetrievalAndAreNeverReturned) {
  for (INT_PTR answer : {INT_PTR(TRUE), INT_PTR(FALSE)}) {
    systemMessages.clear();
    queryAnswer = answer;
    bool retrieved = false, returnedAfter = false;
    int code = host::RunAsProcess([&] {
      host::OnDialog("DLG_MAIN", [&](const host::Dialog &) {
        host::LogOff();
        EXPECT_TRUE(systemMessages.empty());  // nothing before the thread asks
        MSG message;
        retrieved = PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
        returnedAfter = true;
      });
      DialogBoxParamA(nullptr, "DLG_MAIN", nullptr, SessionProcedure, 0);
      return 0;
    });
    EXPECT_FALSE(retrieved);
    ASSERT_FALSE(systemMessages.empty());
    EXPECT_EQ(UINT(WM_QUERYENDSESSION), systemMessages[0].first);
    if (answer == FALSE) {
      // Left to the default handling: the session ends, and the process with it.
      EXPECT_EQ(int(host::kEndedWithTheSession), code);
      EXPECT_FALSE(returnedAfter);
      ASSERT_EQ(2u, systemMessages.size());
      EXPECT_EQ(std::make_pair(UINT(WM_ENDSESSION), WPARAM(TRUE)), systemMessages[1]);
    } else {
      EXPECT_EQ(0, code);
      EXPECT_TRUE(returnedAfter);
      EXPECT_EQ(1u, systemMessages.size());
    }
  }
}

}  // namespace
