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
#include <string>
#include <vector>

#include "archive/walker.h"
#include "fuzz_machine.h"
#include "platform/driver.h"
#include "startup/entry.h"
#include "startup/package.h"
#include "core/program_state.h"
#include "ui/resource_ids.h"
#include "ui/window_helpers.h"

namespace {

const size_t kImageSize = 35328;
int prompts;

void FreshMachine(const uint8_t *data, size_t size) {
  fuzz_machine::FreshMachine({"/z"}, "setup.exe");
  host::MapDrive('Z', "/z");
  std::string package(kImageSize, '\0');
  package[0] = 'M';
  package[1] = 'Z';
  package.append(reinterpret_cast<const char *>(data), size);
  if (!host::PutFile("/c/setup.exe", package)) fuzz_machine::Fail("cannot write the package");
  unsigned long long h = fuzz_machine::Fingerprint(data, size);
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
      d.Click(IDC_PASSWORD_CANCEL);
      return;
    }
    d.Type(IDC_PASSWORD_EDIT, "pw");
    d.Click(IDC_PASSWORD_OK);
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
    if (LoadPackage()) RunModalDialog("DLG_MAIN", MainStandIn);
    return 0;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;
  FreshMachine(data, size);
  ScriptUser();
  RunStub();
  if (state.extractOk && state.ioError) fuzz_machine::Fail("the walk succeeded over a short write");
  fuzz_machine::CheckNothingOutside({"/z", "/c/setup.exe"});
  host::Reset();
  state = ProgramState{};
  return 0;
}
