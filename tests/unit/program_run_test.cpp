// Whole runs of the program with the scripted driver as the user: start-up,
// the main dialog, the installation and the clean-up, and the exit sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

#include "startup/entry.h"
#include "support/package_builder.h"
#include "support/host_machine.h"
#include "ui/resource_ids.h"

using namespace testing_support;

namespace {

const char kTemp[] = "C:\\temp\\$Vantrel.Tmp";

class ProgramRun : public HostMachine {
 protected:
  void SetUp() override {
    HostMachine::SetUp();
    WriteFile("windows/system32/rundll32.exe", "MZ");
    host::SetModuleFileName("C:\\dist\\setup.exe");
    // The installer sees the extracted files while it runs.
    host::OnCreateProcess([this](const host::ProcessRecord &) {
      seenByInstaller_ = Exists("temp/$Vantrel.Tmp/setup.inf");
      return host::ProcessScript{};
    });
  }

  static Bytes Archive(int files = 2) {
    std::vector<ZipMember> members = {{"setup.inf", ToBytes("[Version]\r\n")}};
    for (int i = 1; i < files; ++i) {
      members.push_back({"file" + std::to_string(i) + ".txt", ToBytes(std::string(100 + i, 'a' + i % 26))});
    }
    return BuildZip(members);
  }

  int Run(const PackageContents &contents) {
    WriteFile("dist/setup.exe", BuildPackage(contents));
    bool returned = false;
    int code = host::RunAsProcess([&] {
      int c = RunProgram();
      returned = true;
      return c;
    });
    // A run that ends normally releases every block it allocated.
    if (returned) {
      EXPECT_EQ(0, host::LiveBlocks());
    }
    return code;
  }

  std::vector<std::string> MainTexts() const { return host::TextHistory("DLG_MAIN", IDC_MAIN_TEXT); }

  bool Shown(const std::string &event) const {
    const auto &events = host::Events();
    return std::find(events.begin(), events.end(), event) != events.end();
  }

  int Count(const std::string &prefix) const {
    int n = 0;
    for (const std::string &e : host::Events()) n += e.compare(0, prefix.size(), prefix) == 0;
    return n;
  }

  // A package split after `firstPiece` bytes into setup.exe and setup.001.
  void WriteSplit(const PackageContents &contents, size_t firstPiece = 35400) {
    Bytes whole = BuildPackage(contents);
    WriteFile("dist/setup.exe", Bytes(whole.begin(), whole.begin() + firstPiece));
    WriteFile("dist/setup.001", Bytes(whole.begin() + firstPiece, whole.end()));
  }

  // setup.exe alone, or split in two when the package says it is in parts.
  void WritePackage(const PackageContents &contents) {
    if (contents.multiPart) {
      WriteSplit(contents);
    } else {
      WriteFile("dist/setup.exe", BuildPackage(contents));
    }
  }

  // A fresh machine for the next case of a table.
  void StartAgain() {
    TearDown();
    SetUp();
  }

  bool seenByInstaller_ = false;
};

TEST_F(ProgramRun, MainDialogShowsTitleAndWelcomeAndCloseEndsIt) {
  PackageContents contents;
  contents.title = "Example Tool";
  contents.welcome = "Welcome!";
  contents.archive = Archive();
  host::Dialog seen{};
  bool handled = false;
  host::OnDialog("DLG_MAIN", [&](const host::Dialog &d) {
    handled = true;
    EXPECT_EQ("Example Tool", d.Caption());
    EXPECT_EQ("&Install", d.Text(IDC_INSTALL));
    EXPECT_EQ("&Close", d.Text(IDC_CLOSE));
    EXPECT_EQ("Welcome!", d.Text(IDC_MAIN_TEXT));
    RECT r;
    GetWindowRect(d.window, &r);
    EXPECT_EQ((1024 - (r.right - r.left)) / 2, r.left);
    EXPECT_EQ((768 - (r.bottom - r.top)) / 2, r.top);
    d.Click(IDC_CLOSE);
  });
  EXPECT_EQ(1602, Run(contents));
  EXPECT_TRUE(handled);
  EXPECT_TRUE(Shown("end DLG_MAIN 2"));
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_TRUE(host::Processes().empty());
  EXPECT_EQ(0, Count("text DLG_MAIN 3002: \r\nDeleting "));
  EXPECT_FALSE(Exists("temp/$Vantrel.Tmp"));
  EXPECT_EQ(0, host::OpenHandles());
}

TEST_F(ProgramRun, PackageWithoutTitleKeepsTheTemplateCaption) {
  PackageContents contents;
  contents.welcome = "Hi";
  contents.archive = Archive();
  std::string caption;
  host::OnDialog("DLG_MAIN", [&](const host::Dialog &d) {
    caption = d.Caption();
    d.Command(IDCANCEL);
  });
  EXPECT_EQ(1602, Run(contents));
  EXPECT_EQ("Self-extracting Archive", caption);
}

TEST_F(ProgramRun, InstallExtractsRunsTheInfAndCleansUp) {
  PackageContents contents;
  contents.title = "Tool";
  contents.welcome = "Welcome";
  contents.infName = "setup.inf";
  contents.archive = Archive(3);
  host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
  EXPECT_EQ(0, Run(contents));
  EXPECT_TRUE(seenByInstaller_);
  ASSERT_EQ(1u, host::Processes().size());
  EXPECT_EQ(std::string("C:\\windows\\system32\\rundll32.exe setupapi,InstallHinfSection "
                        "DefaultInstall 132 ") +
                kTemp + "\\setup.inf",
            host::Processes()[0].commandLine);
  std::vector<std::string> expected = {
      "Welcome",
      std::string("\r\n  Extracting: ") + kTemp + "\\setup.inf",
      std::string("\r\n  Extracting: ") + kTemp + "\\file1.txt",
      std::string("\r\n  Extracting: ") + kTemp + "\\file2.txt",
      "\r\nSetup is updating your system ...\r\n\r\n",
      std::string("\r\nDeleting ") + kTemp + "\\setup.inf",
      std::string("\r\nDeleting ") + kTemp + "\\file1.txt",
      std::string("\r\nDeleting ") + kTemp + "\\file2.txt",
  };
  EXPECT_EQ(expected, MainTexts());
  EXPECT_TRUE(Shown("end DLG_MAIN 2"));
  EXPECT_FALSE(Exists("temp/$Vantrel.Tmp"));
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_EQ("C:\\", host::CurrentDirectory());
}

// Started from a folder of any length Windows allows (a current folder
// holds up to 258 characters), a successful installation ends with 0, back
// in that folder, with the temporary folder removed. A starting folder that
// cannot be read is not restored: the run leaves the temporary folder for
// its parent, which lets it be removed, and still ends with 0.
TEST_F(ProgramRun, AnyStartingFolderIsRestoredAndTheTemporaryFolderRemoved) {
  for (size_t length : {255u, 256u, 257u, 258u, 0u}) {
    SCOPED_TRACE(length);
    StartAgain();
    std::string start = "C:\\";
    if (length > 0) {
      std::string first(120, 'a'), second(length - 3 - 121, 'b');
      MakeFolder(first + "/" + second);
      start += first + "\\" + second;
      ASSERT_EQ(length, start.size());
      host::SetCurrentDirectory(start);
    } else {
      host::FailCall("GetCurrentDirectoryA", ERROR_NOT_ENOUGH_MEMORY);
    }
    PackageContents contents;
    contents.welcome = "Welcome";
    contents.archive = Archive(2);
    WritePackage(contents);
    host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
    EXPECT_EQ(0, host::RunAsProcess(RunProgram));
    EXPECT_TRUE(seenByInstaller_);
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_FALSE(Exists("temp/$Vantrel.Tmp"));
    EXPECT_EQ(length > 0 ? start : "C:\\temp", host::CurrentDirectory());
  }
}

TEST_F(ProgramRun, ButtonsAreDisabledWhileInstallingAndTheCloseStillArrives) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.archive = Archive();
  bool disabledDuringInstaller = false;
  const host::Dialog *main = nullptr;
  host::OnDialog("DLG_MAIN", [&](const host::Dialog &d) {
    main = &d;
    d.Click(IDC_INSTALL);
  });
  host::OnCreateProcess([&](const host::ProcessRecord &) {
    disabledDuringInstaller = main && !main->Enabled(IDC_INSTALL) && !main->Enabled(IDC_CLOSE);
    // The user cannot start anything again meanwhile.
    main->Click(IDC_INSTALL);
    main->Click(IDC_CLOSE);
    return host::ProcessScript{};
  });
  EXPECT_EQ(0, Run(contents));
  EXPECT_TRUE(disabledDuringInstaller);
  EXPECT_EQ(1u, host::Processes().size());
  EXPECT_EQ(1, Count("end DLG_MAIN"));
}

TEST_F(ProgramRun, UnattendedPackageNeverShowsItsMainDialog) {
  PackageContents contents;
  contents.archive = Archive();
  bool mainHandled = false;
  host::OnDialog("DLG_MAIN", [&](const host::Dialog &) { mainHandled = true; });
  EXPECT_EQ(0, Run(contents));
  EXPECT_FALSE(mainHandled);
  EXPECT_EQ(1u, host::Processes().size());
  EXPECT_TRUE(seenByInstaller_);
  EXPECT_FALSE(Exists("temp/$Vantrel.Tmp"));
}

TEST_F(ProgramRun, UnattendedWithDeclinedLicenceShowsTheReadyDialog) {
  PackageContents contents;
  contents.licence = "Terms";
  contents.archive = Archive();
  std::string text;
  host::OnDialog("DLG_LIC", [](const host::Dialog &d) { d.Click(IDC_DECLINE); });
  host::OnDialog("DLG_MAIN", [&](const host::Dialog &d) {
    text = d.Text(IDC_MAIN_TEXT);
    EXPECT_TRUE(d.Enabled(IDC_INSTALL));
    EXPECT_TRUE(d.Enabled(IDC_CLOSE));
    d.Click(IDC_CLOSE);
  });
  EXPECT_EQ(1602, Run(contents));
  EXPECT_EQ("\r\r\rPlease click \"Install\" to start setup.", text);
  EXPECT_TRUE(host::Processes().empty());
}

TEST_F(ProgramRun, DeclinedLicenceIsShownAgainAndAcceptedLicenceInstalls) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.licence = "Line one\r\nLine two";
  contents.archive = Archive();
  int licenceShown = 0;
  const host::Dialog *main = nullptr;
  host::OnDialog("DLG_LIC", [&](const host::Dialog &d) {
    ++licenceShown;
    EXPECT_EQ("License agreement", d.Caption());
    EXPECT_EQ("Line one\r\nLine two", d.Text(IDC_LICENCE_TEXT));
    EXPECT_EQ("To continue with this installation, you must agree to all terms of this license "
              "agreement.",
              d.Text(IDC_LICENCE_PROMPT));
    EXPECT_EQ("I agree", d.Text(IDC_AGREE));
    EXPECT_EQ("&Cancel", d.Text(IDC_DECLINE));
    // Behind the licence the main dialog cannot start a second Install.
    EXPECT_FALSE(main->Enabled(IDC_INSTALL));
    d.Click(licenceShown == 1 ? IDC_DECLINE : IDC_AGREE);
  });
  host::OnDialog("DLG_MAIN", [&](const host::Dialog &d) {
    main = &d;
    d.Click(IDC_INSTALL);
    EXPECT_FALSE(d.Ended());  // declined: still Ready
    EXPECT_TRUE(host::Processes().empty());
    d.Click(IDC_INSTALL);
  });
  EXPECT_EQ(0, Run(contents));
  EXPECT_EQ(2, licenceShown);
  EXPECT_EQ(1u, host::Processes().size());
}

TEST_F(ProgramRun, EscapeAndTheCloseBoxDeclineTheLicence) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.licence = "Terms";
  contents.archive = Archive();
  host::OnDialog("DLG_LIC", [](const host::Dialog &d) { d.Command(IDCANCEL); });
  host::OnDialog("DLG_MAIN", [](const host::Dialog &d) {
    d.Click(IDC_INSTALL);
    d.Click(IDC_CLOSE);
  });
  EXPECT_EQ(1602, Run(contents));
  EXPECT_TRUE(Shown("end DLG_LIC 2"));
  EXPECT_TRUE(host::Processes().empty());
}

class FinishedState : public ProgramRun, public ::testing::WithParamInterface<int> {};

TEST_P(FinishedState, StayOpenWaitsAndEitherButtonDeletesAndEnds) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.stayOpen = true;
  contents.archive = Archive();
  host::OnDialog("DLG_MAIN", [&](const host::Dialog &d) {
    d.Click(IDC_INSTALL);
    EXPECT_FALSE(d.Ended());
    EXPECT_EQ("&Info", d.Text(IDC_INSTALL));
    EXPECT_EQ("&Ok", d.Text(IDC_CLOSE));
    EXPECT_EQ("\r\nFinished!", d.Text(IDC_MAIN_TEXT));
    EXPECT_TRUE(d.Enabled(IDC_INSTALL));
    EXPECT_TRUE(d.Enabled(IDC_CLOSE));
    EXPECT_TRUE(Exists("temp/$Vantrel.Tmp/setup.inf"));
    d.Click(GetParam());
  });
  EXPECT_EQ(0, Run(contents));
  std::vector<std::string> order = {"text DLG_MAIN 2: &Ok", "text DLG_MAIN 3002: \r\nFinished!",
                                    "text DLG_MAIN 1: &Info"};
  auto at = std::search(host::Events().begin(), host::Events().end(), order.begin(), order.end());
  EXPECT_NE(host::Events().end(), at);
  EXPECT_FALSE(Exists("temp/$Vantrel.Tmp"));
  EXPECT_TRUE(Shown("end DLG_MAIN 2"));
}

INSTANTIATE_TEST_SUITE_P(InfoOrOk, FinishedState, ::testing::Values(IDC_INSTALL, IDC_CLOSE));

TEST_F(ProgramRun, StayOpenWithoutWelcomeTextWaitsWithTheDefaultText) {
  PackageContents contents;
  contents.stayOpen = true;
  contents.archive = Archive();
  std::string text;
  host::OnDialog("DLG_MAIN", [&](const host::Dialog &d) {
    text = d.Text(IDC_MAIN_TEXT);
    d.Click(IDC_CLOSE);
  });
  EXPECT_EQ(1602, Run(contents));
  EXPECT_EQ("\r\r\rPlease click \"Install\" to start setup.", text);
  EXPECT_TRUE(host::Processes().empty());
}

TEST_F(ProgramRun, FailedExtractionEndsTheDialogWithoutRunningTheInf) {
  PackageContents contents;
  contents.welcome = "Welcome";
  ZipMember damaged{"data.bin", ToBytes("payload")};
  damaged.crc = 0x12345678;
  contents.archive = BuildZip({{"setup.inf", ToBytes("x")}, damaged});
  host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
  EXPECT_EQ(1603, Run(contents));
  EXPECT_TRUE(host::Processes().empty());
  EXPECT_TRUE(Shown("msgbox Error: Error extracting file(s)."));
  EXPECT_TRUE(Shown("end DLG_MAIN 1"));
  EXPECT_EQ(0, Count("text DLG_MAIN 3002: \r\nDeleting "));
  // What was extracted stays, and so the temporary folder stays.
  EXPECT_TRUE(Exists("temp/$Vantrel.Tmp/setup.inf"));
}

TEST_F(ProgramRun, OnlyThe255FirstFilesAreCleanedUp) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.archive = Archive(300);
  host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
  EXPECT_EQ(0, Run(contents));
  EXPECT_EQ(255, Count("text DLG_MAIN 3002: \r\nDeleting "));
  EXPECT_FALSE(Exists("temp/$Vantrel.Tmp/file254.txt"));
  EXPECT_TRUE(Exists("temp/$Vantrel.Tmp/file255.txt"));
  EXPECT_TRUE(Exists("temp/$Vantrel.Tmp/file299.txt"));
}

TEST_F(ProgramRun, SubFoldersStayAfterTheCleanUp) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.archive = BuildZip({{"setup.inf", ToBytes("x")}, {"bin/tool.exe", ToBytes("MZ")}});
  host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
  EXPECT_EQ(0, Run(contents));
  EXPECT_FALSE(Exists("temp/$Vantrel.Tmp/bin/tool.exe"));
  EXPECT_TRUE(Exists("temp/$Vantrel.Tmp/bin"));
}

TEST_F(ProgramRun, QuitWhileTheInstallerRunsEndsWithItsCodeAndKeepsTheFiles) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.archive = Archive();
  host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
  host::OnCreateProcess([](const host::ProcessRecord &) {
    host::ProcessScript s;
    s.runningWaits = 2;
    s.whileRunning = [] { PostMessageA(nullptr, WM_QUIT, 3, 0); };
    return s;
  });
  WriteFile("dist/setup.exe", BuildPackage(contents));
  EXPECT_EQ(3, host::RunAsProcess(RunProgram));
  EXPECT_TRUE(Exists("temp/$Vantrel.Tmp/setup.inf"));
  EXPECT_EQ(0, Count("text DLG_MAIN 3002: \r\nDeleting "));
}

// When the user logs off, Windows sends WM_QUERYENDSESSION to the main
// dialog; it never comes through the queue. During the second advpack run
// it ends the program at once, as a retrieved one does: nothing after the
// wait runs, and the files stay for the installer.
TEST_F(ProgramRun, LogOffDuringTheSecondAdvpackRunEndsTheProgramAtOnce) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.advpack = true;
  contents.archive = Archive();
  host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
  host::OnCreateProcess([](const host::ProcessRecord &p) {
    host::ProcessScript s;
    s.runningWaits = 3;
    if (p.commandLine.find(",DefaultInstallX") != std::string::npos) s.whileRunning = host::LogOff;
    return s;
  });
  EXPECT_EQ(0, Run(contents));  // the wParam of WM_QUERYENDSESSION
  EXPECT_EQ(0, Count("session ended"));
  EXPECT_EQ(2u, host::Processes().size());
  EXPECT_EQ(0, Count("end DLG_MAIN"));
  EXPECT_EQ(0, Count("text DLG_MAIN 3002: \r\nDeleting "));
  EXPECT_TRUE(Exists("temp/$Vantrel.Tmp/setup.inf"));
}

// A log-off during any other wait goes to the dialog procedures too, which
// leave it to the default handling: the session ends and Windows ends the
// program with it. What was written into the temporary folder stays.
TEST_F(ProgramRun, LogOffDuringEveryOtherWaitEndsWithTheSession) {
  struct Wait {
    const char *during;
    bool split, advpack, password;
    std::function<void()> arrange;
    bool filesLeft;  // extracted files, or the rebuilt package
  };
  auto logOffAt = [](const char *text) {
    host::OnPump([text] {
      const host::Dialog *d = host::CurrentDialog();
      if (d && d->Text(IDC_MAIN_TEXT).find(text) != std::string::npos) {
        host::OnPump(nullptr);
        host::LogOff();
      }
    });
  };
  auto installAndLogOffIn = [](const char *dialog) {
    host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
    host::OnDialog(dialog, [](const host::Dialog &) { host::LogOff(); });
  };
  auto installAndLogOffWhileInstalling = [] {
    host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
    host::OnCreateProcess([](const host::ProcessRecord &) {
      host::ProcessScript s;
      s.runningWaits = 2;
      s.whileRunning = host::LogOff;
      return s;
    });
  };
  std::vector<Wait> waits = {
      {"the main dialog", false, false, false,
       [] { host::OnDialog("DLG_MAIN", [](const host::Dialog &) { host::LogOff(); }); }, false},
      {"the main dialog of a split package", true, false, false,
       [] { host::OnDialog("DLG_MAIN", [](const host::Dialog &) { host::LogOff(); }); }, true},
      {"the disk prompt", true, false, false,
       [] {
         host::OnMessageBox([](const host::MessageBoxRecord &) {
           host::LogOff();
           return IDOK;
         });
       },
       true},
      {"the licence dialog", false, false, false, [=] { installAndLogOffIn("DLG_LIC"); }, false},
      {"the password dialog", false, false, true, [=] { installAndLogOffIn("DLG_PASS"); }, true},
      {"the extraction", false, false, false,
       [=] {
         host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
         logOffAt("Extracting: ");
       },
       true},
      {"the setupapi run", false, false, false, installAndLogOffWhileInstalling, true},
      {"the first advpack run", false, true, false, installAndLogOffWhileInstalling, true},
      {"the removal", false, false, false,
       [=] {
         host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
         logOffAt("Deleting ");
       },
       true},
  };
  for (const Wait &w : waits) {
    SCOPED_TRACE(w.during);
    StartAgain();
    PackageContents contents;
    contents.welcome = "Welcome";
    contents.advpack = w.advpack;
    contents.multiPart = w.split;
    if (std::string(w.during) == "the licence dialog") contents.licence = "Terms";
    if (w.password) {
      contents.archive = BuildZip({{"setup.inf", ToBytes("x")}, {"b.txt", ToBytes("b"), 0, "pw"}});
    } else {
      contents.archive = Archive(3);
    }
    w.arrange();
    WritePackage(contents);
    if (std::string(w.during) == "the disk prompt") {
      std::filesystem::rename(Posix("dist/setup.001"), Posix("setup.001.aside"));
    }
    EXPECT_EQ(int(host::kEndedWithTheSession), host::RunAsProcess(RunProgram));
    EXPECT_TRUE(Shown("session ended"));
    EXPECT_EQ(w.filesLeft, Exists("temp/$Vantrel.Tmp"));
  }
}

// A short write sets the sticky I/O error; the exit sequence must still
// close the package, or the rebuilt file of a split package could not be
// deleted (Windows NT refuses to delete an open file).
TEST_F(ProgramRun, ShortWriteStillClosesThePackageAndDeletesTheRebuiltFile) {
  struct Case {
    const char *what;
    bool split;
    bool duringRebuild;
  };
  for (const Case &c :
       {Case{"single part, extraction", false, false}, Case{"split, extraction", true, false},
        Case{"split, rebuild", true, true}}) {
    SCOPED_TRACE(c.what);
    StartAgain();
    PackageContents contents;
    contents.welcome = "Welcome";
    contents.multiPart = c.split;
    contents.archive = Archive(3);
    WritePackage(contents);
    if (c.duringRebuild) host::LimitWrites(1000);
    host::OnDialog("DLG_MAIN", [](const host::Dialog &d) {
      host::LimitWrites(20);  // the disk fills during the first member
      d.Click(IDC_INSTALL);
    });
    EXPECT_EQ(1603, host::RunAsProcess(RunProgram));
    EXPECT_EQ(0, Count("msgbox Error: Cannot close the file"));
    EXPECT_TRUE(Shown(c.duringRebuild ? "msgbox Error: Error rebuilding this Setup package."
                                      : "msgbox Error: Error extracting file(s)."));
    EXPECT_EQ(0, host::OpenHandles());
    EXPECT_FALSE(Exists("temp/$Vantrel.Tmp/Vantrel.pkg"));
    // A failed extraction keeps what it wrote, and with it the folder; a
    // failed rebuild leaves nothing.
    EXPECT_EQ(!c.duringRebuild, Exists("temp/$Vantrel.Tmp/setup.inf"));
    EXPECT_EQ(!c.duringRebuild, Exists("temp/$Vantrel.Tmp"));
  }
}

// A temporary path that leaves no room for the rebuilt package's name (or a
// member's) is given up for the system directory.
TEST_F(ProgramRun, SplitPackageInstallsWhenTheTempPathLeavesNoRoom) {
  host::SetTempPath("C:\\" + std::string(240, 't') + "\\");  // 244 characters
  PackageContents contents;
  contents.multiPart = true;
  contents.archive = Archive(3);
  WriteSplit(contents);
  bool seen = false;
  host::OnCreateProcess([&](const host::ProcessRecord &) {
    seen = Exists("windows/system32/$Vantrel.Tmp/setup.inf");
    return host::ProcessScript{};
  });
  EXPECT_EQ(0, host::RunAsProcess(RunProgram));
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_TRUE(seen);
  EXPECT_FALSE(Exists("windows/system32/$Vantrel.Tmp"));
}

// Before anything that can show a window (a dialog, or a message box when
// loading fails) the DLL search is restricted with the best call the
// system has; without SetDefaultDllDirectories, the DLLs a window pulls in
// are loaded from the system folder by their full path first.
TEST_F(ProgramRun, DllSearchIsRestrictedBeforeTheFirstWindow) {
  const std::vector<std::string> windowDlls = {"uxtheme.dll", "dwmapi.dll", "imm32.dll"};
  struct Case {
    const char *what;
    DWORD platform, major, minor;
    bool corrupt;
    std::vector<std::string> restriction;  // the events before the first window
  };
  const std::string system = "C:\\windows\\system32\\";
  std::vector<std::string> preloads;
  for (const std::string &dll : windowDlls) preloads.push_back("load " + system + dll);
  std::vector<std::string> xp = {"dll search SetDllDirectoryA \"\""};
  xp.insert(xp.end(), preloads.begin(), preloads.end());
  std::vector<Case> cases = {
      {"Windows 10", VER_PLATFORM_WIN32_NT, 10, 0, false,
       {"dll search SetDefaultDllDirectories 0x800"}},
      {"Windows 8, a corrupt package", VER_PLATFORM_WIN32_NT, 6, 2, true,
       {"dll search SetDefaultDllDirectories 0x800"}},
      {"Windows XP", VER_PLATFORM_WIN32_NT, 5, 1, false, xp},
      {"Windows XP, a corrupt package", VER_PLATFORM_WIN32_NT, 5, 1, true, xp},
      {"Windows 2000", VER_PLATFORM_WIN32_NT, 5, 0, false, preloads},
      {"Windows 98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, false, preloads},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    StartAgain();
    host::SetVersion(c.platform, c.major, c.minor);
    for (const std::string &dll : windowDlls) WriteFile("windows/system32/" + dll, "MZ");
    PackageContents contents;
    contents.welcome = "Welcome";
    contents.archive = Archive();
    Bytes package = BuildPackage(contents);
    if (c.corrupt) package.resize(package.size() - 30);
    WriteFile("dist/setup.exe", package);
    host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_CLOSE); });
    host::RunAsProcess(RunProgram);
    const std::vector<std::string> &events = host::Events();
    auto window = std::find_if(events.begin(), events.end(), [](const std::string &e) {
      return e.rfind("dialog ", 0) == 0 || e.rfind("msgbox ", 0) == 0;
    });
    ASSERT_NE(events.end(), window);
    EXPECT_EQ(c.restriction, std::vector<std::string>(events.begin(), window));
    EXPECT_EQ(c.corrupt, window->rfind("msgbox ", 0) == 0);
  }
}

// Nobody else may write into a member while it is written: the installer
// is about to run what it holds. Reading it stays possible.
TEST_F(ProgramRun, MembersAreNotWriteSharedWhileTheyAreWritten) {
  PackageContents contents;
  contents.archive = Archive();
  WritePackage(contents);
  int tries = 0;
  const std::string member = std::string(kTemp) + "\\setup.inf";
  host::OnWrite([&](DWORD) {
    if (tries++) return;
    HANDLE writer = CreateFileA(member.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    HANDLE reader = CreateFileA(member.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader);
    CloseHandle(reader);
  });
  EXPECT_EQ(0, host::RunAsProcess(RunProgram));
  EXPECT_GT(tries, 0);
}

// A folder planted under the temporary folder's name before the run is
// neither used nor removed: the package installs from a folder of its own,
// which the run removes again.
TEST_F(ProgramRun, PlantedFolderIsNeitherUsedNorRemoved) {
  WriteFile("temp/$Vantrel.Tmp/setup.inf", "[planted]");
  PackageContents contents;
  contents.infName = "setup.inf";
  contents.archive = Archive();
  WritePackage(contents);
  bool ownSeen = false;
  host::OnCreateProcess([&](const host::ProcessRecord &) {
    ownSeen = Exists("temp/$Vant001.Tmp/setup.inf");
    return host::ProcessScript{};
  });
  EXPECT_EQ(0, host::RunAsProcess(RunProgram));
  EXPECT_TRUE(ownSeen);
  ASSERT_EQ(1u, host::Processes().size());
  EXPECT_NE(std::string::npos,
            host::Processes()[0].commandLine.find("C:\\temp\\$Vant001.Tmp\\setup.inf"));
  EXPECT_EQ(ToBytes("[planted]"), ReadFile("temp/$Vantrel.Tmp/setup.inf"));
  EXPECT_FALSE(Exists("temp/$Vant001.Tmp"));
}

TEST_F(ProgramRun, ProgramFileThatCannotBeOpenedShowsOneMessage) {
  host::SetModuleFileName("C:\\dist\\gone.exe");
  EXPECT_EQ(1603, host::RunAsProcess(RunProgram));
  ASSERT_EQ(1u, host::MessageBoxes().size());
  EXPECT_EQ("Cannot open file ..", host::MessageBoxes()[0].caption);
  EXPECT_EQ(0, Count("dialog "));
}

TEST_F(ProgramRun, CorruptPackageEndsAtOnceWithoutDialog) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.archive = Archive();
  contents.archive.resize(contents.archive.size() - 5);
  EXPECT_EQ(1603, Run(contents));
  EXPECT_EQ(0, Count("dialog "));
  ASSERT_EQ(1u, host::MessageBoxes().size());
  EXPECT_EQ("The setup file is corrupted. Please obtain a new copy of the program.",
            host::MessageBoxes()[0].text);
  EXPECT_FALSE(Exists("temp/$Vantrel.Tmp"));
  EXPECT_EQ(0, host::OpenHandles());
}

TEST_F(ProgramRun, MemoryExhaustionIsFatalWithError203) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.archive = Archive();
  WriteFile("dist/setup.exe", BuildPackage(contents));
  host::FailAllocationsAbove(1000);  // the CRC table needs 1,028 bytes
  EXPECT_EQ(203, host::RunAsProcess(RunProgram));
  ASSERT_EQ(1u, host::MessageBoxes().size());
  EXPECT_EQ("Error", host::MessageBoxes()[0].caption);
  EXPECT_EQ(UINT(MB_OK), host::MessageBoxes()[0].style);
  EXPECT_EQ(0u, host::MessageBoxes()[0].text.rfind("Runtime error 203 at ", 0));
}

TEST_F(ProgramRun, RebuiltPackageIsDeletedWhenTheUserClosesWithoutInstalling) {
  PackageContents contents;
  contents.welcome = "Welcome";
  contents.multiPart = true;
  contents.archive = Archive();
  Bytes whole = BuildPackage(contents);
  Bytes first(whole.begin(), whole.begin() + 35400), rest(whole.begin() + 35400, whole.end());
  WriteFile("dist/setup.exe", first);
  WriteFile("dist/setup.001", rest);
  bool rebuiltWhileOpen = false;
  host::OnDialog("DLG_MAIN", [&](const host::Dialog &d) {
    rebuiltWhileOpen = ReadFile("temp/$Vantrel.Tmp/Vantrel.pkg") == whole;
    d.Click(IDC_CLOSE);
  });
  EXPECT_EQ(1602, host::RunAsProcess(RunProgram));
  EXPECT_TRUE(rebuiltWhileOpen);
  EXPECT_FALSE(Exists("temp/$Vantrel.Tmp"));
  EXPECT_EQ(0, Count("text DLG_MAIN 3002: \r\nDeleting "));
}

TEST_F(ProgramRun, SplitPackageInstallsFromTheRebuiltFile) {
  PackageContents contents;
  contents.multiPart = true;  // unattended as well
  contents.archive = Archive(5);
  Bytes whole = BuildPackage(contents);
  WriteFile("dist/setup.exe", Bytes(whole.begin(), whole.begin() + 35380));
  WriteFile("dist/setup.001", Bytes(whole.begin() + 35380, whole.begin() + 35500));
  WriteFile("dist/setup.002", Bytes(whole.begin() + 35500, whole.end()));
  EXPECT_EQ(0, host::RunAsProcess(RunProgram));
  EXPECT_TRUE(seenByInstaller_);
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_FALSE(Exists("temp/$Vantrel.Tmp"));
}

// Every way a run ends, with and without /Q, and what whoever started the
// program learns of it: the exit code, whether any window opened, and how
// many INF installer runs were started (or tried). A quiet run opens no
// window whatever happens, and ends by itself.
TEST_F(ProgramRun, EveryEndHasItsExitCode) {
  struct End {
    const char *what;
    std::string commandLine;
    std::function<void(PackageContents &)> package;
    std::function<void()> arrange;  // the user and the machine, once the package is written
    int code;
    bool windows;
    size_t installerRuns;
  };
  auto plain = [](PackageContents &) {};
  auto unattended = [](PackageContents &c) { c.welcome.clear(); };
  auto withLicence = [](PackageContents &c) { c.licence = "Terms"; };
  auto members = [](std::vector<ZipMember> list) {
    return [list](PackageContents &c) {
      std::vector<ZipMember> all = {{"setup.inf", ToBytes("x")}};
      all.insert(all.end(), list.begin(), list.end());
      c.archive = BuildZip(all);
    };
  };
  ZipMember flipped{"data.bin", ToBytes("payload")};
  flipped.rawData = ToBytes("pAyload");
  ZipMember badStream{"data.bin", ToBytes("payload"), 8};
  badStream.rawData = Bytes{0xFF, 0xFF, 0xFF, 0xFF};  // a block of the reserved type
  ZipMember secret{"b.txt", ToBytes("b"), 0, "pw"};
  ZipMember outside{"../evil.txt", ToBytes("x")};
  ZipMember method6{"data.bin", ToBytes("payload"), 6};
  auto endRecordDamaged = [](PackageContents &c) { c.archive[c.archive.size() - 22] ^= 0xFF; };
  auto split = [](PackageContents &c) { c.multiPart = true; };
  auto adminOnly = [](PackageContents &c) { c.admin = true; };

  auto none = [] {};
  auto press = [](int button) {
    return [button] {
      host::OnDialog("DLG_MAIN", [button](const host::Dialog &d) { d.Click(button); });
    };
  };
  auto install = press(IDC_INSTALL);
  auto licence = [](std::vector<int> answers) {
    return [answers] {
      auto left = std::make_shared<std::vector<int>>(answers);
      host::OnDialog("DLG_LIC", [left](const host::Dialog &d) {
        int answer = left->front();
        left->erase(left->begin());
        d.Click(answer);
      });
      host::OnDialog("DLG_MAIN", [](const host::Dialog &d) {
        d.Click(IDC_INSTALL);
        if (!d.Ended()) d.Click(IDC_INSTALL);
        if (!d.Ended()) d.Click(IDC_CLOSE);
      });
    };
  };
  auto password = [](const char *typed) {
    return [typed] {
      host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
      host::OnDialog("DLG_PASS", [typed](const host::Dialog &d) {
        if (!typed) return d.Click(IDC_PASSWORD_CANCEL);
        d.Type(IDC_PASSWORD_EDIT, typed);
        d.Click(IDC_PASSWORD_OK);
      });
    };
  };
  // The disk prompt gets `answer`; 0 is a prompt that could not be shown.
  auto withoutPart = [this](int answer) {
    return [this, answer] {
      std::filesystem::remove(Posix("dist/setup.001"));
      host::OnMessageBox([answer](const host::MessageBoxRecord &) { return answer; });
    };
  };
  auto notAdmin = [] { host::SetToken({false, {}, {{"S-1-1-0", SE_GROUP_ENABLED}}}); };
  auto installerMissing = [](bool press) {
    return [press] {
      if (press) host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
      host::OnCreateProcess([](const host::ProcessRecord &) {
        host::ProcessScript s;
        s.starts = false;
        return s;
      });
    };
  };
  auto quitWhileInstalling = [] {
    host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
    host::OnCreateProcess([](const host::ProcessRecord &) {
      host::ProcessScript s;
      s.runningWaits = 2;
      s.whileRunning = [] { PostMessageA(nullptr, WM_QUIT, 3, 0); };
      return s;
    });
  };
  auto noMemory = [] { host::FailAllocationsAbove(1000); };
  auto folderRefused = [] { host::FailCall("CreateDirectoryA", ERROR_DISK_FULL); };
  auto both = [](std::function<void()> a, std::function<void()> b) {
    return [a, b] {
      a();
      b();
    };
  };

  const std::string P = "\"C:\\dist\\setup.exe\"";
  std::vector<End> ends = {
      {"installed", P, plain, install, 0, true, 1},
      {"installed unattended", P, unattended, none, 0, true, 1},
      {"Close before Install", P, plain, press(IDC_CLOSE), 1602, true, 0},
      {"licence declined, then Close", P, withLicence, licence({IDC_DECLINE, IDC_DECLINE}), 1602,
       true, 0},
      {"licence declined, then accepted", P, withLicence, licence({IDC_DECLINE, IDC_AGREE}), 0,
       true, 1},
      {"password cancelled", P, members({secret}), password(nullptr), 1602, true, 0},
      {"password refused three times", P, members({secret}), password("wrong"), 1603, true, 0},
      {"a flipped byte in a member", P, members({flipped}), install, 1603, true, 0},
      {"a damaged deflate stream", P, members({badStream}), install, 1603, true, 0},
      {"a name leading outside", P, members({outside}), install, 1603, true, 0},
      {"an unknown method", P, members({method6}), install, 1603, true, 0},
      {"a full disk", P, plain, both(install, [] { host::LimitWrites(3); }), 1603, true, 0},
      {"a damaged end record", P, endRecordDamaged, none, 1603, true, 0},
      {"a missing part, prompt cancelled", P, split, withoutPart(IDCANCEL), 1603, true, 0},
      {"a missing part, prompt not shown", P, split, withoutPart(0), 1603, true, 0},
      {"not an administrator", P, adminOnly, notAdmin, 5, true, 0},
      {"the installer does not start", P, plain, installerMissing(true), 1603, true, 1},
      {"the program file cannot be opened", P, plain,
       [] { host::SetModuleFileName("C:\\dist\\gone.exe"); }, 1603, true, 0},
      {"memory exhausted", P, plain, noMemory, 203, true, 0},
      {"a folder cannot be made", P, plain, both(install, folderRefused), ERROR_DISK_FULL, true, 0},
      {"WM_QUIT while the installer runs", P, plain, quitWhileInstalling, 3, true, 1},

      {"quiet: welcome text, licence and stay-open", P + " /Q",
       [](PackageContents &c) {
         c.licence = "Terms";
         c.stayOpen = true;
       },
       none, 0, false, 1},
      {"quiet, -q", P + " -q", unattended, none, 0, false, 1},
      {"quiet, in quotes, after other arguments", P + " /x \"/q\"", plain, none, 0, false, 1},
      {"/Quiet is not the switch", P + " /Quiet", plain, none, 1602, true, 0},
      // The program's name is split off as Windows does: a quoted name may
      // hold blanks, and what looks like the switch inside it is none.
      {"a name holding -q", "\"C:\\a -q\\setup.exe\" /x", plain, none, 1602, true, 0},
      {"a name that is -q", "-q", plain, none, 1602, true, 0},
      {"quiet: password wanted", P + " /Q", members({secret}), none, 1603, false, 0},
      {"quiet: a flipped byte in a member", P + " /Q", members({flipped}), none, 1603, false, 0},
      {"quiet: a damaged end record", P + " /Q", endRecordDamaged, none, 1603, false, 0},
      {"quiet: a missing part", P + " /Q", split, withoutPart(IDCANCEL), 1603, false, 0},
      {"quiet: not an administrator", P + " /Q", adminOnly, notAdmin, 5, false, 0},
      {"quiet: the installer does not start", P + " /Q", plain, installerMissing(false), 1603,
       false, 1},
      {"quiet: memory exhausted", P + " /Q", plain, noMemory, 203, false, 0},
      {"quiet: a folder cannot be made", P + " /Q", plain, folderRefused, ERROR_DISK_FULL, false,
       0},
  };
  for (const End &e : ends) {
    SCOPED_TRACE(e.what);
    StartAgain();
    PackageContents contents;
    contents.welcome = "Welcome";
    contents.archive = Archive();
    e.package(contents);
    WritePackage(contents);
    host::SetCommandLine(e.commandLine);
    e.arrange();
    EXPECT_EQ(e.code, host::RunAsProcess(RunProgram));
    EXPECT_EQ(e.windows, host::WindowsOpened() > 0);
    EXPECT_EQ(e.installerRuns, host::Processes().size());
  }
}

}  // namespace
