#include "stub_session.h"

#include <stdlib.h>

#include <filesystem>

#include "pack_error.h"
#include "platform/driver.h"
#include "startup/entry.h"
#include "core/program_state.h"

namespace fs = std::filesystem;

namespace vantrel_pack {
namespace {

// A Windows file name cannot hold these; the stub could not be called so.
bool IsWindowsName(const std::string &name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || std::string("\\/:*?\"<>|").find(char(c)) != std::string::npos) return false;
  }
  return true;
}

std::string MakeScratchFolder() {
  std::error_code ec;
  std::string pattern = (fs::temp_directory_path(ec) / "vantrel-XXXXXX").string();
  if (ec) pattern = "/tmp/vantrel-XXXXXX";
  if (!mkdtemp(pattern.data())) throw PackError("cannot make a scratch folder " + pattern);
  return pattern;
}

}  // namespace

StubSession::StubSession(const std::string &packagePath) {
  std::error_code ec;
  fs::path package = fs::canonical(packagePath, ec);
  if (ec) throw PackError("cannot read " + packagePath + ": " + ec.message());
  std::string name = package.filename().string();
  if (!IsWindowsName(name)) {
    throw PackError("the package's file name " + name + " cannot be a Windows file name");
  }
  packagePath_ = package.string();
  modulePath_ = "P:\\" + name;
  scratch_ = MakeScratchFolder();

  host::Reset();
  state = ProgramState{};
  host::MapDrive('P', package.parent_path().string());
  host::MapDrive('T', scratch_);
  host::SetModuleFileName(modulePath_);
  host::SetTempPath("T:\\");
  host::SetSystemDirectory("T:\\");
  host::SetWindowsDirectory("T:\\");
  host::SetCurrentDirectory("T:\\");
  InitProgramState();
}

StubSession::~StubSession() {
  host::Reset();
  state = ProgramState{};
  std::error_code ignored;
  fs::remove_all(scratch_, ignored);
}

std::string StubSession::RebuiltPath() const {
  return state.rebuiltPath.length ? host::PosixPath(state.rebuiltPath.text) : std::string();
}

std::string StubSession::MapFolder(char letter, const std::string &posixFolder) {
  // As SUBST makes a drive: its root is an ordinary folder, which the stub
  // may take as its temporary folder.
  host::SubstituteDrive(letter, posixFolder);
  return std::string(1, letter) + ":";
}

bool StubSession::Run(const std::function<void()> &step) {
  bool finished = false;
  host::RunAsProcess([&] {
    step();
    finished = true;
    return 0;
  });
  return finished;
}

}  // namespace vantrel_pack
