// The one bridge from vantrel-pack to the stub: the stub's own procedures,
// run on the build machine through the host platform layer, so that the
// tool reads, walks and extracts a package exactly as the stub will.
//
// Only the files of this folder include the stub's headers (apart from the
// constants of core/package_layout.h, which everyone may use). What the stub
// did comes from its return values, its program state and its reports
// (core/run_report.h), never from what it shows a user: no text of a
// message, no dialog or control, and every message box is answered Cancel
// without being read.
//
// The program state and the host layer are global: a new session takes the
// machine over, and an older one may no longer be used.
#ifndef VANTREL_PACK_BRIDGE_STUB_SESSION_H
#define VANTREL_PACK_BRIDGE_STUB_SESSION_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/report_listener.h"

namespace vantrel_pack {

// One member as the stub's walk met it, and its verdict (run_report.h).
struct StubMember {
  uint64_t headerOffset = 0;  // of its local header, in the package file
  LocalHeader header{};
  MemberVerdict verdict = kMemberListed;
};

// A walk of the stub: its members in file order and how it ended.
struct StubWalk {
  std::vector<StubMember> members;
  bool ranOut = false;  // it ran out of members; false: a member ended it
  WalkEnd end = kWalkEndAtRecord;
  uint64_t endOffset = 0;  // where it ran out of members
  bool fatal = false;      // the stub ended its process during the walk (a fatal error)
};

class StubSession {
 public:
  // Prepares a fresh machine on which the stub's file is `packagePath`
  // (drive P: is its folder) and its temporary path and system folder are
  // a new private scratch folder (drive T:), where the rebuild of a split
  // package lands and nothing else writes. Nobody answers the stub: every
  // message box gets Cancel, every dialog is cancelled. Throws PackError.
  explicit StubSession(const std::string &packagePath);
  ~StubSession();
  StubSession(const StubSession &) = delete;
  StubSession &operator=(const StubSession &) = delete;

  // The package's file as the stub names it, and on this machine.
  const std::string &ModulePath() const { return modulePath_; }
  const std::string &PackagePath() const { return packagePath_; }
  // The session's scratch folder, removed with the session.
  const std::string &Scratch() const { return scratch_; }

  // Runs `step` as part of the stub's process; false when the stub ended
  // the process inside it (a corrupted package, a fatal error).
  bool Run(const std::function<void()> &step);

  // Opens the package file as the stub's archive, its first byte at
  // `archiveBase`: for a plain .zip, 0. Throws PackError.
  void OpenArchive(uint64_t archiveBase);

  // The stub's walk of the open archive, judging each member without
  // extracting it.
  StubWalk ListArchive();

  // The stub's extraction of the open archive into `folder` (a POSIX path),
  // which takes the place of the temporary folder. `password`, in the
  // package's code page, is the one the stub tries first on every encrypted
  // member; without it, or when it fails, the prompt is cancelled. With
  // `goOn` the walk starts again after every member that stopped it, so that
  // each member is tried. True when the stub's own extraction succeeded.
  struct Extraction {
    std::string folder;
    std::optional<std::string> password;
    bool goOn = false;
    std::function<void(const StubMember &)> onMember;  // as each member is done
    std::function<void(uint64_t)> onBytesWritten;      // as the stub writes
    // The members' names are written in UTF-8 from this code page, as
    // Windows would show them; 0 keeps their bytes.
    int namesCodePage = 0;
  };
  bool ExtractArchive(const Extraction &how, StubWalk &walk);

 private:
  void Own() const;

  uint64_t generation_ = 0;
  std::string packagePath_;
  std::string modulePath_;
  std::string scratch_;
};

// The member whose local header, name, extra field and data are `record`,
// extracted on its own by the stub's walk in a scratch folder: its verdict,
// and when it is kMemberExtracted its bytes in `content`. Encrypted members
// are not opened.
MemberVerdict ExtractLoneMember(const std::string &record, std::string &content);

// Where the record after the member starts: after its name, extra field and
// data, as the stub seeks to it; 0 when no file position reaches it.
uint64_t NextRecordOffset(const StubMember &member);

}  // namespace vantrel_pack

#endif
