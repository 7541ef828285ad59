#include "source_check.h"

#include "byte_source.h"
#include "central_directory.h"
#include "cli/errors.h"
#include "core/package_layout.h"
#include "utf8_names.h"
#include "windows_names.h"

namespace vantrel_pack {
namespace {

// The stub's walk of the archive, held against its central directory;
// throws PackError, the message begun by `subject`, at the first fault.
ArchiveWalk Checked(const std::string &zipPath, const std::string &subject, int codePage,
                    std::ostream &err) {
  PieceSet zip;
  if (!zip.AddFile(zipPath)) throw PackError("cannot open " + zipPath);
  if (zip.Size() > kLargestPackage) throw PackError(subject + " is larger than 2 GiB");
  ArchiveWalk walk = WalkZipFile(zipPath, zip);
  if (walk.members.empty()) throw PackError(subject + " does not begin with a zip local header");
  for (const WalkProblem &problem : WalkWarnings(walk)) {
    if (problem.stopsInstallation) throw PackError(subject + ": " + problem.text);
    err << "vantrel-pack create: warning: " << problem.text << "\n";
  }
  EndRecord end = FindEndRecord(zip);
  if (!end.found) throw PackError(subject + " has no zip end record");
  if (end.zip64) throw PackError(subject + " is a Zip64 archive");
  std::vector<std::string> disagreements = DirectoryDisagreements(zip, 0, walk);
  if (!disagreements.empty()) {
    throw PackError(subject + ": " + disagreements[0] +
                    " (zip tools would show other files than the stub installs)");
  }
  // The names as the package will hold them (flagged UTF-8 ones converted),
  // cut where the stub cuts them.
  std::vector<std::string> names = CodePageNames(walk, codePage);
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == walk.members[i].rawName) names[i] = walk.members[i].name;
  }
  std::vector<NameFinding> found = WindowsNameFindings(names, WindowsNames(codePage));
  if (!found.empty()) throw PackError(subject + ": " + found[0].text);
  return walk;
}

}  // namespace

ArchiveWalk CheckZipForStub(const std::string &zipPath, int codePage, std::ostream &err) {
  return Checked(zipPath, zipPath, codePage, err);
}

void CheckWrittenZip(const std::string &zipPath, const std::string &folder, int codePage,
                     std::ostream &err) {
  Checked(zipPath, "the archive written for " + folder, codePage, err);
}

}  // namespace vantrel_pack
