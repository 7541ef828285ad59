#include "support/host_machine.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "startup/entry.h"

namespace fs = std::filesystem;

namespace testing_support {

void HostMachine::SetUp() {
  host::Reset();
  state = ProgramState{};
  scratch_ = std::make_unique<ScratchFolder>("test");
  root_ = scratch_->path();
  fs::create_directories(root_ + "/windows/system32");
  fs::create_directories(root_ + "/temp");
  host::MapDrive('C', root_);
  host::SetSystemDirectory("C:\\windows\\system32");
  host::SetWindowsDirectory("C:\\windows");
  host::SetTempPath("C:\\temp\\");
  host::SetCurrentDirectory("C:\\");
}

void HostMachine::TearDown() {
  host::Reset();
  state = ProgramState{};
  scratch_.reset();
}

std::string HostMachine::Posix(const std::string &relative) const { return root_ + "/" + relative; }

void HostMachine::WriteFile(const std::string &relative,
                            const std::vector<unsigned char> &bytes) const {
  fs::create_directories(fs::path(Posix(relative)).parent_path());
  std::ofstream out(Posix(relative), std::ios::binary);
  out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

void HostMachine::WriteFile(const std::string &relative, const std::string &text) const {
  WriteFile(relative, std::vector<unsigned char>(text.begin(), text.end()));
}

std::vector<unsigned char> HostMachine::ReadFile(const std::string &relative) const {
  return ReadBytes(Posix(relative));
}

bool HostMachine::Exists(const std::string &relative) const { return fs::exists(Posix(relative)); }

void HostMachine::MakeFolder(const std::string &relative) const {
  fs::create_directories(Posix(relative));
}

void HostMachine::WriteSixteenBitProgram(const std::string &relative) const {
  std::vector<unsigned char> image(128, 0);
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;  // the new header follows the MS-DOS one
  image[0x40] = 'N';
  image[0x41] = 'E';
  WriteFile(relative, image);
}

std::vector<std::string> HostMachine::Tree() const {
  std::vector<std::string> paths;
  for (auto &entry : fs::recursive_directory_iterator(root_)) {
    paths.push_back(fs::relative(entry.path(), root_).string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

void HostMachine::PrepareProgram() { InitProgramState(); }

std::vector<unsigned char> ReadBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace testing_support
