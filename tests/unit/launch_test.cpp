// Running the INF installer: command lines, the wait, the current folder.
#include <gtest/gtest.h>

#include <cstring>

#include "install/launch.h"
#include "support/scratch.h"

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
};

TEST_F(InfLaunch, SetupapiLineStartsTheSystemsRundll32InTheTemporaryFolder) {
  ASSERT_EQ(-1, Launch());
  ASSERT_EQ(1u, host::Processes().size());
  const host::ProcessRecord &p = host::Processes()[0];
  EXPECT_EQ("rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 C:\\temp\\$Vantrel.Tmp\\app.inf",
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
  WriteFile("windows/rundll.exe", "MZ");
  ASSERT_EQ(-1, Launch());
  ASSERT_EQ(1u, host::Processes().size());
  EXPECT_EQ("rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 C:\\temp\\$Vantrel.Tmp\\app.inf",
            host::Processes()[0].commandLine);
  EXPECT_EQ("C:\\windows\\rundll.exe", host::Processes()[0].application);
}

TEST_F(InfLaunch, AdvpackRunsTwoSectionsWithTheNtSuffixOnlyFirst) {
  state.useAdvpack = 1;
  ASSERT_EQ(-1, Launch());
  std::vector<std::string> expected = {
      "rundll32.exe advpack,LaunchINFSection C:\\temp\\$Vantrel.Tmp\\app.inf,DefaultInstall2.ntx86",
      "rundll32.exe advpack,LaunchINFSection C:\\temp\\$Vantrel.Tmp\\app.inf,DefaultInstallX"};
  EXPECT_EQ(expected, CommandLines());
  EXPECT_EQ(DWORD(CREATE_NEW_CONSOLE | HIGH_PRIORITY_CLASS), host::Processes()[1].creationFlags);
}

TEST_F(InfLaunch, AdvpackOnWindows98HasNoSuffix) {
  state.useAdvpack = 1;
  host::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
  ASSERT_EQ(-1, Launch());
  std::vector<std::string> expected = {
      "rundll32.exe advpack,LaunchINFSection C:\\temp\\$Vantrel.Tmp\\app.inf,DefaultInstall2",
      "rundll32.exe advpack,LaunchINFSection C:\\temp\\$Vantrel.Tmp\\app.inf,DefaultInstallX"};
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
  host::SetVersion(VER_PLATFORM_WIN32_NT, 4, 0, false);
  EXPECT_FALSE(IsWindowsNT());
  host::Reset();
}

}  // namespace
