// Whole packages through the stub's loader and archive walk. The input is
// everything after the stub's image: the package header, its texts and the
// archive. The run happens in a scratch folder mapped as C:, with Z: (the
// POSIX root on a real host run) mapped to an empty folder of its own; after
// every run nothing may exist anywhere except the package file, the folders
// the machine started with and what lies inside the temporary folder.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "startup/entry.h"
#include "archive/extract.h"
#include "platform/driver.h"
#include "startup/package.h"
#include "startup/program_state.h"
#include "ui/window_helpers.h"

namespace fs = std::filesystem;

namespace {

const size_t kImageSize = 35328;
std::string root;
std::vector<uint8_t> image(kImageSize, 0);
int prompts;

void Fail(const std::string &why) {
  fprintf(stderr, "fuzz_extract: %s\n", why.c_str());
  abort();
}

void FreshMachine() {
  std::error_code ignored;
  fs::remove_all(root + "/c", ignored);
  fs::remove_all(root + "/z", ignored);
  fs::create_directories(root + "/c/temp");
  fs::create_directories(root + "/c/windows/system32");
  fs::create_directories(root + "/z");
  host::Reset();
  state = ProgramState{};
  host::MapDrive('C', root + "/c");
  host::MapDrive('Z', root + "/z");
  host::SetSystemDirectory("C:\\windows\\system32");
  host::SetWindowsDirectory("C:\\windows");
  host::SetTempPath("C:\\temp\\");
  host::SetCurrentDirectory("C:\\");
  host::SetModuleFileName("C:\\setup.exe");
  // Texts that claim gigabytes must fail as a damaged package, not exhaust
  // the fuzzer's memory.
  host::FailAllocationsAbove(64 << 20);
}

void WritePackage(const uint8_t *data, size_t size) {
  FILE *f = fopen((root + "/c/setup.exe").c_str(), "wb");
  if (!f) Fail("cannot write the package");
  fwrite(image.data(), 1, image.size(), f);
  if (size && fwrite(data, 1, size, f) != size) Fail("short package write");
  fclose(f);
}

// The user: OK on every message box but Cancel on the disk prompt (there
// is no other disk); the password prompt gets "pw" twice, then Cancel.
void ScriptUser() {
  prompts = 0;
  host::OnMessageBox([](const host::MessageBoxRecord &box) {
    return (box.style & MB_OKCANCEL) ? IDCANCEL : IDOK;
  });
  host::OnDialog("DLG_PASS", [](const host::Dialog &d) {
    if (++prompts > 2) {
      d.Click(2);
      return;
    }
    d.Type(101, "pw");
    d.Click(1);
  });
  host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { ExtractArchive(d.window); });
}

INT_PTR CALLBACK MainStandIn(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wParam) == 2) EndDialog(dialog, 2);
  return FALSE;
}

void RunStub() {
  host::RunAsProcess([] {
    InitProgramState();
    if (LoadPackage()) RunModalDialog("DLG_Main", MainStandIn);
    return 0;
  });
}

// Everything in the scratch root must be one of the starting folders, the
// package, or inside the temporary folder.
void CheckNothingOutside() {
  const std::string temp = "c/temp/$Vantrel.Tmp";
  for (auto &entry : fs::recursive_directory_iterator(root)) {
    std::string p = fs::relative(entry.path(), root).string();
    if (p == "c" || p == "z" || p == "c/temp" || p == "c/windows" || p == "c/windows/system32" ||
        p == "c/setup.exe" || p == temp || p.compare(0, temp.size() + 1, temp + "/") == 0) {
      continue;
    }
    Fail("created outside the temporary folder: " + p);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char pattern[] = "/tmp/vantrel-fuzz-extract-XXXXXX";
  if (!mkdtemp(pattern)) Fail("no scratch folder");
  root = pattern;
  image[0] = 'M';
  image[1] = 'Z';
  atexit([] {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;
  FreshMachine();
  WritePackage(data, size);
  ScriptUser();
  RunStub();
  host::Reset();
  state = ProgramState{};
  CheckNothingOutside();
  return 0;
}
