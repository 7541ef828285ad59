// The loader and the rebuild of split packages, then the whole installation,
// on a fresh machine in memory. The input describes the files beside the
// program: a control byte, then chunks of a 16-bit little-endian length and
// that many bytes. The first chunk follows the stub's image in the program
// file SETUP.EXE; the next ones are the parts SETUP.001, SETUP.002, ... A
// chunk cut short by the end of the input is still written.
//
// Control byte: bit 0 answers the first disk prompt with OK (try again)
// before every later one gets Cancel; bits 1-2 pick a disk that fills up
// or a part whose reads stop early (a disk taken out), at a point the input
// decides.
//
// After every run: nothing may exist outside the temporary folder but the
// machine's own files, and when the loader accepted a split package, the
// rebuilt file holds exactly the pieces, whole and in order, up to the
// package's total size.
#include <string>
#include <vector>

#include "fuzz_machine.h"
#include "platform/driver.h"
#include "startup/entry.h"
#include "startup/package.h"
#include "core/program_state.h"
#include "ui/dialogs.h"
#include "ui/resource_ids.h"
#include "ui/window_helpers.h"

namespace {

const size_t kImageSize = 35328;
const char *const kPieceNames[] = {"SETUP.EXE", "SETUP.001", "SETUP.002", "SETUP.003"};
const size_t kMaxPieces = 4;

struct Input {
  unsigned control = 0;
  std::vector<std::string> pieces;  // the program file first
};

Input Parse(const uint8_t *data, size_t size) {
  Input in;
  size_t at = 0;
  if (at < size) in.control = data[at++];
  while (at < size && in.pieces.size() < kMaxPieces) {
    size_t length = data[at++];
    if (at < size) length |= size_t(data[at++]) << 8;
    length = std::min(length, size - at);
    in.pieces.emplace_back(reinterpret_cast<const char *>(data + at), length);
    at += length;
  }
  if (in.pieces.empty()) in.pieces.emplace_back();
  in.pieces[0].insert(0, std::string(kImageSize, '\0'));
  in.pieces[0][0] = 'M';
  in.pieces[0][1] = 'Z';
  return in;
}

void FreshMachine(const Input &in) {
  fuzz_machine::FreshMachine({"/c/dist"}, "dist\\SETUP.EXE");
  for (size_t i = 0; i < in.pieces.size(); ++i) {
    if (!host::PutFile(std::string("/c/dist/") + kPieceNames[i], in.pieces[i]))
      fuzz_machine::Fail("no piece");
  }
  size_t total = 0;
  for (const std::string &piece : in.pieces) total += piece.size();
  size_t point = total ? (in.control >> 3) * total / 31 : 0;
  if ((in.control & 6) == 2) host::LimitWrites((long long)point);
  if ((in.control & 6) == 4 && in.pieces.size() > 1) {
    host::CutReads("C:\\dist\\SETUP.001", (long long)(point % (in.pieces[1].size() + 1)));
  }
}

void ScriptUser(const Input &in) {
  static bool retried;
  retried = !(in.control & 1);
  host::OnMessageBox([](const host::MessageBoxRecord &box) {
    if (!(box.style & MB_OKCANCEL)) return IDOK;
    if (retried) return IDCANCEL;
    retried = true;
    return IDOK;
  });
  host::OnDialog("DLG_LIC", [](const host::Dialog &d) { d.Click(IDC_AGREE); });
  host::OnDialog("DLG_PASS", [](const host::Dialog &d) { d.Click(IDC_PASSWORD_CANCEL); });
  host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { d.Click(IDC_INSTALL); });
}

// The pieces the rebuild must have joined: whole, in order, until the
// package's total size is reached.
void CheckRebuilt(const Input &in) {
  std::string expected;
  for (const std::string &piece : in.pieces) {
    if ((long long)expected.size() >= (long long)state.totalSize) break;
    expected += piece;
  }
  std::string rebuilt;
  if (!host::GetFile(host::PosixPath(state.rebuiltPath.text), rebuilt)) {
    fuzz_machine::Fail("the accepted package has no rebuilt file");
  }
  if (rebuilt != expected) {
    fuzz_machine::Fail("the rebuilt file holds " + std::to_string(rebuilt.size()) +
                       " bytes, not the " + std::to_string(expected.size()) + " of its pieces");
  }
}

void Run(const Input &in) {
  host::RunAsProcess([&in] {
    InitProgramState();
    if (LoadPackage()) {
      if (state.multiPart) CheckRebuilt(in);
      RunModalDialog("DLG_MAIN", MainDlgProc);
    }
    RunExitSequence();
    return 0;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;
  Input in = Parse(data, size);
  FreshMachine(in);
  ScriptUser(in);
  Run(in);
  fuzz_machine::CheckNothingOutside({"/c/dist"});
  host::Reset();
  state = ProgramState{};
  return 0;
}
