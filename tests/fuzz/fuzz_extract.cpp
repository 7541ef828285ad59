// Whole packages through the stub's loader and archive walk. The input is
// everything after the stub's image: the package header, its texts and the
// archive. Each run gets a fresh machine in memory: C: holds the package and
// the temporary path, Z: (the POSIX root on a real host run) is an empty
// drive of its own. One input in four also runs on a disk that fills up after
// a number of bytes the input decides.
//
// After every run: nothing may exist except the package, the folders the
// machine started with and what lies inside the temporary folder; and a walk
// that reported success must have written every byte it was given.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "archive/extract.h"
#include "platform/driver.h"
#include "startup/entry.h"
#include "startup/package.h"
#include "startup/program_state.h"
#include "ui/window_helpers.h"

namespace {

const size_t kImageSize = 35328;
int prompts;

void Fail(const std::string &why) {
  fprintf(stderr, "fuzz_extract: %s\n", why.c_str());
  abort();
}

// FNV-1a: a cheap fingerprint of the input that decides the disk's size.
unsigned long long Fingerprint(const uint8_t *data, size_t size) {
  unsigned long long h = 1469598103934665603ULL;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ULL;
  return h;
}

void FreshMachine(const uint8_t *data, size_t size) {
  host::Reset();
  state = ProgramState{};
  host::UseMemoryFiles();
  host::MapDrive('C', "/c");
  host::MapDrive('Z', "/z");
  host::MakeFolders("/c/temp");
  host::MakeFolders("/c/windows/system32");
  host::MakeFolders("/z");
  std::string package(kImageSize, '\0');
  package[0] = 'M';
  package[1] = 'Z';
  package.append(reinterpret_cast<const char *>(data), size);
  if (!host::PutFile("/c/setup.exe", package)) Fail("cannot write the package");
  host::SetSystemDirectory("C:\\windows\\system32");
  host::SetWindowsDirectory("C:\\windows");
  host::SetTempPath("C:\\temp\\");
  host::SetCurrentDirectory("C:\\");
  host::SetModuleFileName("C:\\setup.exe");
  // Texts that claim gigabytes must fail as a damaged package, not exhaust
  // the fuzzer's memory.
  host::FailAllocationsAbove(64 << 20);
  unsigned long long h = Fingerprint(data, size);
  if (h % 4 == 0) host::LimitWrites((long long)((h >> 8) % (4 * size + 1)));
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

void CheckNothingOutside() {
  const std::string temp = "/c/temp/$Vantrel.Tmp";
  for (const std::string &p : host::TreeBelow("/")) {
    if (p == "/c" || p == "/z" || p == "/c/temp" || p == "/c/windows" ||
        p == "/c/windows/system32" || p == "/c/setup.exe" || p == temp ||
        p.compare(0, temp.size() + 1, temp + "/") == 0) {
      continue;
    }
    Fail("created outside the temporary folder: " + p);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;
  FreshMachine(data, size);
  ScriptUser();
  RunStub();
  if (state.extractOk && state.ioError) Fail("the walk succeeded over a short write");
  CheckNothingOutside();
  host::Reset();
  state = ProgramState{};
  return 0;
}
