// A host machine with a package loaded from C:\setup.exe, ready for the
// archive walk, and a scripted user for the password prompts.
#ifndef VANTREL_TEST_EXTRACT_FIXTURE_H
#define VANTREL_TEST_EXTRACT_FIXTURE_H

#include <deque>
#include <optional>
#include <string>

#include "archive/walker.h"
#include "startup/package.h"
#include "support/package_builder.h"
#include "support/host_machine.h"
#include "ui/resource_ids.h"
#include "ui/window_helpers.h"

namespace testing_support {

// The temporary folder LoadPackage chooses for the scratch machine, as a
// Windows path and relative to the scratch root.
inline const std::string kTempWindows = "C:\\temp\\$Vantrel.Tmp";
inline const std::string kTempRelative = "temp/$Vantrel.Tmp";

class Extraction : public HostMachine {
 protected:
  void SetUp() override {
    HostMachine::SetUp();
    PrepareProgram();
    host::SetModuleFileName("C:\\setup.exe");
    host::OnDialog("DLG_PASS", [this](const host::Dialog &d) { AnswerPrompt(d); });
  }

  // Loads the package; the archive must pass the loader.
  void Load(const Bytes &archive, bool skipCheck = false) {
    PackageContents contents;
    contents.archive = archive;
    contents.skipCheck = skipCheck;
    LoadRaw(BuildPackage(contents));
  }
  void LoadRaw(const Bytes &package) {
    WriteFile("setup.exe", package);
    bool loaded = false;
    ASSERT_EQ(-1, host::RunAsProcess([&] {
      loaded = LoadPackage();
      return -1;
    }));
    ASSERT_TRUE(loaded);
    ASSERT_EQ(kTempWindows, std::string(state.tempDir));
  }

  // Runs the walk inside a main dialog, as the Install command does;
  // returns the exit code when the walk ended the process, else -1.
  int Extract() {
    host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { ExtractArchive(d.window); });
    return host::RunAsProcess([] {
      RunModalDialog("DLG_MAIN", MainStandIn);
      return -1;
    });
  }

  static INT_PTR CALLBACK MainStandIn(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == 2) EndDialog(dialog, 2);
    return FALSE;
  }

  // Answers for the password prompts, in order: a text typed and confirmed,
  // or nullopt for Cancel. A prompt with no answer left is cancelled.
  void Answer(std::initializer_list<std::optional<std::string>> answers) {
    answers_.insert(answers_.end(), answers.begin(), answers.end());
  }
  void AnswerPrompt(const host::Dialog &d) {
    ++prompts_;
    if (answers_.empty()) {
      d.Click(IDC_PASSWORD_CANCEL);
      return;
    }
    std::optional<std::string> a = answers_.front();
    answers_.pop_front();
    if (!a) {
      d.Click(IDC_PASSWORD_CANCEL);
      return;
    }
    d.Type(IDC_PASSWORD_EDIT, *a);
    d.Click(IDC_PASSWORD_OK);
  }

  std::vector<std::string> Boxes() const {
    std::vector<std::string> out;
    for (const auto &b : host::MessageBoxes()) out.push_back(b.caption + ": " + b.text);
    return out;
  }
  std::vector<std::string> Recorded() const {
    std::vector<std::string> out;
    for (int i = 0; i < state.extractedCount; ++i) out.push_back(state.extractedFiles[i].text);
    return out;
  }
  std::string Out(const std::string &relative) const { return kTempRelative + "/" + relative; }
  std::string OutWindows(const std::string &relative) const {
    return kTempWindows + "\\" + relative;
  }
  std::vector<std::string> StatusLines() const { return host::TextHistory("DLG_MAIN", 3002); }

  std::deque<std::optional<std::string>> answers_;
  int prompts_ = 0;
};

}  // namespace testing_support

#endif
