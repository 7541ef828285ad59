#include "stub_session.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "archive/walker.h"
#include "cli/errors.h"
#include "cli/text.h"
#include "core/program_state.h"
#include "core/text.h"
#include "platform/driver.h"
#include "startup/entry.h"
#include "startup/package.h"

namespace fs = std::filesystem;

namespace vantrel_pack {
namespace {

// Each session takes the machine over; an older one still alive is spent.
uint64_t latestSession = 0;

// The drive the extraction's folder is mapped as.
const char kOutputDrive = 'O';

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

// Gathers the reports of the stub's walks into `walk`.
class WalkListener : public ReportListener {
 public:
  WalkListener(StubWalk &walk, std::function<void(const StubMember &)> onMember)
      : walk_(walk), onMember_(std::move(onMember)) {
    ListenToReports(this);
  }
  ~WalkListener() override { ListenToReports(nullptr); }
  void Member(const MemberRecord &record) override {
    walk_.members.push_back(StubMember{record.headerPosition, record.header, record.verdict});
    if (onMember_) onMember_(walk_.members.back());
  }
  void WalkEnded(WalkEnd end, DWORD position) override {
    walk_.ranOut = true;
    walk_.end = end;
    walk_.endOffset = position;
  }

 private:
  StubWalk &walk_;
  std::function<void(const StubMember &)> onMember_;
};

bool WriteWholeFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return bool(out.flush());
}

void ReadWholeFile(const std::string &path, std::string &bytes) {
  std::ifstream in(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
  host::AnswerEveryBoxWithCancel();
  InitProgramState();
  generation_ = ++latestSession;
}

void StubSession::Own() const {
  // The program state and the host machine are one: a later session has
  // taken them over from this one.
  if (generation_ != latestSession) throw std::logic_error("a stub session used after a later one");
}

StubSession::~StubSession() {
  if (generation_ == latestSession) {
    host::Reset();
    state = ProgramState{};
  }
  std::error_code ignored;
  fs::remove_all(scratch_, ignored);
}

bool StubSession::Run(const std::function<void()> &step) {
  Own();
  bool finished = false;
  host::RunAsProcess([&] {
    step();
    finished = true;
    return 0;
  });
  return finished;
}

void StubSession::OpenArchive(uint64_t archiveBase) {
  Own();
  if (state.packageFile && state.packageFile != INVALID_HANDLE_VALUE) {
    CloseHandle(state.packageFile);
  }
  state.packageFile = CreateFileA(modulePath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (state.packageFile == INVALID_HANDLE_VALUE) throw PackError("cannot open " + packagePath_);
  state.archiveBase = LONG(archiveBase);
}

StubWalk StubSession::ListArchive() {
  Own();
  // Names are judged as in the shortest temporary folder the stub can
  // have: what fails there fails everywhere.
  const std::string folder = std::string("C:") + kTempFolderName;
  CopyBytes(state.tempDir, folder.c_str(), DWORD(folder.size() + 1));
  StubWalk walk;
  WalkListener listener(walk, nullptr);
  Run([] { ::ListArchive(); });
  return walk;
}

bool StubSession::ExtractArchive(const Extraction &how, StubWalk &walk) {
  Own();
  // The folder is mapped whole, as SUBST maps one, so that its own name
  // never passes through Windows path parsing (a '\' in it splits
  // nothing); the drive stands where the walk wants the temporary folder,
  // without a final backslash.
  host::SubstituteDrive(kOutputDrive, how.folder);
  if (how.namesCodePage) {
    host::SetHostNames(kOutputDrive, [codePage = how.namesCodePage](const std::string &name) {
      return FromCodePage(name, codePage);
    });
  }
  const char root[] = {kOutputDrive, ':', 0};
  CopyBytes(state.tempDir, root, sizeof root);
  ClearString(state.password);
  if (how.password) AssignBytes(state.password, how.password->data(), DWORD(how.password->size()));
  host::OnWrite([&how](DWORD bytes) {
    if (how.onBytesWritten) how.onBytesWritten(bytes);
  });
  WalkListener listener(walk, how.onMember);
  const LONG start = state.archiveBase;
  bool extracted = false, first = true, finished = true;
  while (finished) {
    size_t before = walk.members.size();
    walk.ranOut = false;
    finished = Run([&] { ::ExtractArchive(nullptr); });
    walk.fatal = !finished;
    if (first) extracted = finished && state.extractOk;
    first = false;
    if (!how.goOn || walk.ranOut || walk.members.size() == before) break;
    uint64_t next = NextRecordOffset(walk.members.back());
    if (next == 0) break;
    state.archiveBase = LONG(next);
  }
  state.archiveBase = start;
  host::OnWrite(nullptr);
  host::SetHostNames(kOutputDrive, nullptr);
  return extracted;
}

MemberVerdict ExtractLoneMember(const std::string &record, std::string &content) {
  std::string folder = MakeScratchFolder();
  struct Remover {
    std::string path;
    ~Remover() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } remover{folder};
  const std::string archive = folder + "/member.zip", out = folder + "/out";
  if (!WriteWholeFile(archive, record) || !fs::create_directory(out)) {
    throw PackError("cannot write in the scratch folder " + folder);
  }
  StubWalk walk;
  {
    StubSession session(archive);
    session.OpenArchive(0);
    session.ExtractArchive({out, std::nullopt, false, nullptr, nullptr}, walk);
  }
  if (walk.members.empty()) return kMemberDataCut;
  if (walk.members[0].verdict == kMemberExtracted) {
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(out)) {
      if (entry.is_regular_file()) ReadWholeFile(entry.path().string(), content);
    }
  }
  return walk.members[0].verdict;
}

uint64_t NextRecordOffset(const StubMember &member) {
  LONG next = 0;
  if (!NextHeaderPosition(member.header, DWORD(member.headerOffset), next)) return 0;
  return uint64_t(next);
}

}  // namespace vantrel_pack
