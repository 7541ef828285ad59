// Running the INF installer: command lines, the wait, the current folder.
#include <gtest/gtest.h>

#include <cstring>

#include "install/launch.h"
#include "startup/admin.h"
#include "core/windows_family.h"
#include "support/host_machine.h"

using namespace testing_support;

namespace {

class InfLaunch : public HostMachine {
 protected:
  void SetUp() override {
    HostMachine::SetUp();
    PrepareProgram();
    MakeFolder("temp/$Vantrel.Tmp");
    WriteFile("windows/system32/rundll32.exe", "MZ");
    std::string temp = "C:\\temp\\$Vantrel.Tmp";
    temp.copy(state.tempDir, temp.size());
    state.tempDir[temp.size()] = 0;
    std::string inf = "app.inf";
    inf.copy(state.infName, inf.size());
    state.infName[inf.size()] = 0;
    strcpy(state.systemDir, "C:\\windows\\system32");
    strcpy(state.startDir, "C:\\");
  }

  int Launch() {
    return host::RunAsProcess([] {
      LaunchInf(nullptr);
      return -1;
    });
  }

  std::vector<std::string> CommandLines() const {
    std::vector<std::string> lines;
    for (const auto &p : host::Processes()) lines.push_back(p.commandLine);
    return lines;
  }

  static int CountEvents(const std::string &prefix) {
    int n = 0;
    for (const std::string &e : host::Events()) n += e.compare(0, prefix.size(), prefix) == 0;
    return n;
  }

  // Children that run `waits` waits each and post a message at every one.
  static void ChildrenRun(int waits, UINT message = WM_PAINT, WPARAM wParam = 0) {
    host::OnCreateProcess([=](const host::ProcessRecord &) {
      host::ProcessScript s;
      s.runningWaits = waits;
      s.whileRunning = [=] { PostMessageA(nullptr, message, wParam, 0); };
      return s;
    });
  }
};

const char kRundll32[] = "C:\\windows\\system32\\rundll32.exe";

TEST_F(InfLaunch, SetupapiLineStartsTheSystemsRundll32InTheTemporaryFolder) {
  ASSERT_EQ(-1, Launch());
  ASSERT_EQ(1u, host::Processes().size());
  const host::ProcessRecord &p = host::Processes()[0];
  EXPECT_EQ(
      "C:\\windows\\system32\\rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 "
      "C:\\temp\\$Vantrel.Tmp\\app.inf",
      p.commandLine);
  EXPECT_EQ("C:\\windows\\system32\\rundll32.exe", p.application);
  EXPECT_EQ("C:\\temp\\$Vantrel.Tmp", p.currentDirectory);
  EXPECT_EQ(DWORD(CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS), p.creationFlags);
  EXPECT_EQ(DWORD(sizeof(STARTUPINFOA)), p.startup.cb);
  EXPECT_EQ(0x41u, p.startup.dwFlags);
  EXPECT_EQ(5, p.startup.wShowWindow);
  EXPECT_EQ("C:\\", host::CurrentDirectory());
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_EQ(0, host::OpenHandles());
}

TEST_F(InfLaunch, RundllPlantedBesideThePackageIsNeverTheProgram) {
  WriteFile("rundll32.exe", "MZ planted");
  ASSERT_EQ(-1, Launch());
  EXPECT_EQ("C:\\windows\\system32\\rundll32.exe", host::Processes()[0].application);
}

TEST_F(InfLaunch, SetupxOnWindows9xRunsRundllFromTheWindowsFolder) {
  WriteFile("windows/system32/SetupX.dll", "x");
  WriteSixteenBitProgram("windows/rundll.exe");
  ASSERT_EQ(-1, Launch());
  ASSERT_EQ(1u, host::Processes().size());
  EXPECT_EQ(
      "C:\\windows\\rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 "
      "C:\\temp\\$Vantrel.Tmp\\app.inf",
      host::Processes()[0].commandLine);
  EXPECT_EQ("C:\\windows\\rundll.exe", host::Processes()[0].application);
  EXPECT_TRUE(host::MessageBoxes().empty());
}

// Windows 95 starts a 16-bit program only when the command line begins with
// the very name given as the application (KB Q175986); every line therefore
// begins with the program's full path, quoted when it holds a space, and
// goes on exactly as before.
TEST_F(InfLaunch, EveryInstallerLineBeginsWithTheProgramItStarts) {
  struct Road {
    bool advpack, setupx;
    std::string systemDir;
    std::vector<std::string> tails;
  };
  const std::string inf = " C:\\temp\\$Vantrel.Tmp\\app.inf";
  const std::vector<Road> roads = {
      {false,
       false,
       "C:\\windows\\system32",
       {"setupapi,InstallHinfSection DefaultInstall 132" + inf}},
      {false,
       true,
       "C:\\windows\\system32",
       {"setupx.dll,InstallHinfSection DefaultInstall 132" + inf}},
      {true,
       false,
       "C:\\windows\\system32",
       {"advpack,LaunchINFSection" + inf + ",DefaultInstall2.ntx86",
        "advpack,LaunchINFSection" + inf + ",DefaultInstallX"}},
      {false,
       false,
       "C:\\my windows\\system32",
       {"setupapi,InstallHinfSection DefaultInstall 132" + inf}},
  };
  for (const Road &road : roads) {
    SCOPED_TRACE(road.tails[0] + " from " + road.systemDir);
    TearDown();
    SetUp();
    WriteSixteenBitProgram("windows/rundll.exe");
    WriteFile("my windows/system32/rundll32.exe", "MZ");
    if (road.setupx) WriteFile("windows/system32/SetupX.dll", "x");
    state.useAdvpack = road.advpack;
    strcpy(state.systemDir, road.systemDir.c_str());
    ASSERT_EQ(-1, Launch());
    ASSERT_EQ(road.tails.size(), host::Processes().size());
    for (size_t i = 0; i < road.tails.size(); ++i) {
      const host::ProcessRecord &p = host::Processes()[i];
      bool quoted = p.application.find(' ') != std::string::npos;
      std::string first = quoted ? "\"" + p.application + "\"" : p.application;
      EXPECT_EQ(first + " " + road.tails[i], p.commandLine);
    }
    EXPECT_EQ(0, CountEvents("refused to start"));
    EXPECT_TRUE(host::MessageBoxes().empty());
  }
}

TEST_F(InfLaunch, AdvpackRunsTwoSectionsWithTheNtSuffixOnlyFirst) {
  state.useAdvpack = 1;
  ASSERT_EQ(-1, Launch());
  std::string program = kRundll32;
  std::vector<std::string> expected = {
      program + " advpack,LaunchINFSection C:\\temp\\$Vantrel.Tmp\\app.inf,DefaultInstall2.ntx86",
      program + " advpack,LaunchINFSection C:\\temp\\$Vantrel.Tmp\\app.inf,DefaultInstallX"};
  EXPECT_EQ(expected, CommandLines());
  EXPECT_EQ(DWORD(CREATE_NEW_CONSOLE | HIGH_PRIORITY_CLASS), host::Processes()[1].creationFlags);
}

TEST_F(InfLaunch, AdvpackOnWindows98HasNoSuffix) {
  state.useAdvpack = 1;
  host::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
  ASSERT_EQ(-1, Launch());
  std::string program = kRundll32;
  std::vector<std::string> expected = {
      program + " advpack,LaunchINFSection C:\\temp\\$Vantrel.Tmp\\app.inf,DefaultInstall2",
      program + " advpack,LaunchINFSection C:\\temp\\$Vantrel.Tmp\\app.inf,DefaultInstallX"};
  EXPECT_EQ(expected, CommandLines());
}

TEST_F(InfLaunch, FirstChildFailingToStartIsReportedAndTheSecondStillRuns) {
  state.useAdvpack = 1;
  int n = 0;
  host::OnCreateProcess([&](const host::ProcessRecord &) {
    host::ProcessScript s;
    s.starts = n++ > 0;
    return s;
  });
  ASSERT_EQ(-1, Launch());
  EXPECT_EQ(2u, host::Processes().size());
  ASSERT_EQ(1u, host::MessageBoxes().size());
  EXPECT_EQ("Couldn't initialize installation.", host::MessageBoxes()[0].text);
  EXPECT_EQ("Error", host::MessageBoxes()[0].caption);
  EXPECT_EQ(UINT(MB_ICONHAND), host::MessageBoxes()[0].style);
  EXPECT_EQ("C:\\", host::CurrentDirectory());
}

TEST_F(InfLaunch, SecondChildFailingToStartLeavesNoTrace) {
  state.useAdvpack = 1;
  int n = 0;
  host::OnCreateProcess([&](const host::ProcessRecord &) {
    host::ProcessScript s;
    s.starts = n++ == 0;
    return s;
  });
  ASSERT_EQ(-1, Launch());
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_EQ("C:\\", host::CurrentDirectory());
}

TEST_F(InfLaunch, WaitSleepsUntilTheChildEndsAndStillDispatchesMessages) {
  int pumped = 0;
  host::OnCreateProcess([&](const host::ProcessRecord &) {
    host::ProcessScript s;
    s.runningWaits = 3;
    s.exitCode = STILL_ACTIVE;  // an exit code of 259 must still end the wait
    s.whileRunning = [&] {
      ++pumped;
      PostMessageA(nullptr, WM_PAINT, 0, 0);
    };
    return s;
  });
  ASSERT_EQ(-1, Launch());
  EXPECT_EQ(3, pumped);
  // Every posted message was taken off the queue before the wait went on.
  MSG left;
  EXPECT_FALSE(PeekMessageA(&left, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(0, host::OpenHandles());
}

// Windows 95 to 2000 fail a wait whose mask holds a bit they do not know;
// a failed wait must never pass for the child's end.
TEST_F(InfLaunch, WaitUsesOnlyTheWakeBitsEveryWindowsKnows) {
  state.useAdvpack = 1;
  ChildrenRun(3);
  ASSERT_EQ(-1, Launch());
  ASSERT_EQ(2u, host::Processes().size());
  ASSERT_FALSE(host::Waits().empty());
  for (const host::WaitRecord &w : host::Waits()) {
    EXPECT_EQ(0u, w.wakeMask & ~0xFFu) << w.call;
    EXPECT_NE(WAIT_FAILED, w.result) << w.call;
  }
  // Each child ran its course before the program went on.
  EXPECT_EQ(0, CountEvents("closed a running child"));
  // The mask wakes for messages sent by other programs too.
  EXPECT_TRUE(host::Waits()[0].wakeMask & QS_SENDMESSAGE);
}

// Where the message wait itself fails, the program waits on the child
// alone for short spells and dispatches messages between them: no spinning,
// no early end, and WM_QUIT still ends it.
TEST_F(InfLaunch, FailedMessageWaitFallsBackToATimedWaitUntilTheChildEnds) {
  host::FailCall("MsgWaitForMultipleObjects", ERROR_INVALID_PARAMETER);
  state.useAdvpack = 1;
  ChildrenRun(4);
  ASSERT_EQ(-1, Launch());
  EXPECT_EQ(2u, host::Processes().size());
  EXPECT_EQ(0, CountEvents("closed a running child"));
  int timed = 0;
  for (const host::WaitRecord &w : host::Waits()) {
    if (w.call != "WaitForSingleObject") continue;
    ++timed;
    EXPECT_GT(w.milliseconds, 0u);
    EXPECT_LE(w.milliseconds, 1000u);
  }
  EXPECT_GE(timed, 8);  // four spells per child at least
  MSG left;
  EXPECT_FALSE(PeekMessageA(&left, nullptr, 0, 0, PM_REMOVE));  // every message dispatched

  TearDown();
  SetUp();
  host::FailCall("MsgWaitForMultipleObjects", ERROR_INVALID_PARAMETER);
  ChildrenRun(3, WM_QUIT, 5);
  EXPECT_EQ(5, Launch());
  EXPECT_EQ(1u, host::Processes().size());
}

// A child handle that cannot be waited on at all leaves nothing to wait
// for: the wait ends instead of turning round for ever.
TEST_F(InfLaunch, ChildThatCannotBeWaitedOnEndsTheWait) {
  host::FailCall("MsgWaitForMultipleObjects", ERROR_INVALID_PARAMETER);
  host::FailCall("WaitForSingleObject", ERROR_INVALID_HANDLE);
  ChildrenRun(2);
  ASSERT_EQ(-1, Launch());
  EXPECT_EQ(1u, host::Processes().size());
  EXPECT_EQ("C:\\", host::CurrentDirectory());
}

TEST_F(InfLaunch, QuitDuringTheWaitEndsTheProgramWithItsCode) {
  host::OnCreateProcess([&](const host::ProcessRecord &) {
    host::ProcessScript s;
    s.runningWaits = 2;
    s.whileRunning = [] { PostMessageA(nullptr, WM_QUIT, 42, 0); };
    return s;
  });
  EXPECT_EQ(42, Launch());
  EXPECT_EQ("C:\\temp\\$Vantrel.Tmp", host::CurrentDirectory());  // nothing after it ran
}

TEST_F(InfLaunch, QueryEndSessionEndsOnlyTheSecondAdvpackRun) {
  state.useAdvpack = 1;
  host::OnCreateProcess([&](const host::ProcessRecord &) {
    host::ProcessScript s;
    s.runningWaits = 1;
    s.whileRunning = [] { PostMessageA(nullptr, WM_QUERYENDSESSION, 7, 0); };
    return s;
  });
  EXPECT_EQ(7, Launch());
  EXPECT_EQ(2u, host::Processes().size());
}

TEST_F(InfLaunch, FailingToEnterTheTemporaryFolderIsFatal) {
  host::FailCall("SetCurrentDirectoryA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(ERROR_ACCESS_DENIED, Launch());
  EXPECT_TRUE(host::Processes().empty());
  ASSERT_EQ(1u, host::MessageBoxes().size());
  EXPECT_EQ("Error", host::MessageBoxes()[0].caption);
  EXPECT_EQ(UINT(MB_OK), host::MessageBoxes()[0].style);
  EXPECT_NE(std::string::npos, host::MessageBoxes()[0].text.find("5"));
}

TEST(WindowsVersion, NtFamilyAndOthers) {
  host::Reset();
  EXPECT_TRUE(IsWindowsNT());
  host::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 0);
  EXPECT_FALSE(IsWindowsNT());
  host::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 0, false);
  EXPECT_TRUE(IsWindowsNT());
  host::Reset();
}

// One rule for a version that cannot be read: the NT family. The
// administrator check asks the access token, and advpack runs the .ntx86
// section, whatever the platform would have said.
TEST_F(InfLaunch, UnreadableVersionIsTheNtFamilyForEveryAnswer) {
  host::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, false);
  host::TokenScript user;
  user.processGroups = {{"S-1-5-32-545", SE_GROUP_ENABLED}};
  host::SetToken(user);
  EXPECT_FALSE(IsAdmin());
  EXPECT_FALSE(host::SecurityCalls().empty());
  state.useAdvpack = 1;
  ASSERT_EQ(-1, Launch());
  ASSERT_EQ(2u, host::Processes().size());
  const std::string &first = host::Processes()[0].commandLine;
  EXPECT_EQ(",DefaultInstall2.ntx86", first.substr(first.rfind(',')));
}

}  // namespace
