// The stub's own start-up procedures run on the build machine, through the
// host platform layer, so that the tools read a package exactly as the stub
// will: one rule for the header, the texts, the end of the file and the
// rebuild of a split package, and no copy of it here.
//
// The program state and the host layer are global: one session at a time.
#ifndef VANTREL_PACK_STUB_SESSION_H
#define VANTREL_PACK_STUB_SESSION_H

#include <functional>
#include <string>

namespace vantrel_pack {

class StubSession {
 public:
  // Prepares a fresh machine on which the stub's file is `packagePath`
  // (drive P: is its folder) and its temporary path and system folder are
  // a new private scratch folder (drive T:), where the rebuild of a split
  // package lands and nothing else writes. Throws PackError.
  explicit StubSession(const std::string &packagePath);
  ~StubSession();
  StubSession(const StubSession &) = delete;
  StubSession &operator=(const StubSession &) = delete;

  // The package's file as the stub names it, and on this machine.
  const std::string &ModulePath() const { return modulePath_; }
  const std::string &PackagePath() const { return packagePath_; }
  // The stub's rebuilt file of a split package, on this machine; empty
  // before a rebuild.
  std::string RebuiltPath() const;

  // Maps `posixFolder` as drive `letter`, as SUBST maps a folder, and
  // returns the drive ("O:").
  std::string MapFolder(char letter, const std::string &posixFolder);

  // Runs `step` as part of the stub's process; false when the stub ended
  // the process inside it (a corrupted package, a fatal error).
  bool Run(const std::function<void()> &step);

 private:
  std::string packagePath_;
  std::string modulePath_;
  std::string scratch_;
};

}  // namespace vantrel_pack

#endif
