#include "zip_source.h"

#include "byte_source.h"
#include "central_directory.h"
#include "pack_error.h"
#include "package_format.h"
#include "zip_walk.h"

namespace vantrel_pack {

std::vector<std::string> CheckZipForStub(const std::string &zipPath, std::ostream &err) {
  PieceSet zip;
  if (!zip.AddFile(zipPath)) throw PackError("cannot open " + zipPath);
  if (zip.Size() > kMaxPackageSize) throw PackError(zipPath + " is larger than 2 GiB");
  ArchiveWalk walk = WalkArchive(zip, 0);
  if (walk.members.empty()) {
    throw PackError(zipPath + " does not begin with a zip local header");
  }
  for (const WalkProblem &problem : WalkWarnings(walk)) {
    if (problem.stopsInstallation) throw PackError(zipPath + ": " + problem.text);
    err << "vantrel-pack create: warning: " << problem.text << "\n";
  }
  EndRecord end = FindEndRecord(zip);
  if (!end.found) throw PackError(zipPath + " has no zip end record");
  if (end.zip64) throw PackError(zipPath + " is a Zip64 archive");
  std::vector<std::string> disagreements = DirectoryDisagreements(zip, 0, walk);
  if (!disagreements.empty()) {
    throw PackError(zipPath + ": " + disagreements[0] +
                    " (zip tools would show other files than the stub installs)");
  }
  std::vector<std::string> names;
  for (const WalkedMember &member : walk.members) names.push_back(member.name);
  return names;
}

}  // namespace vantrel_pack
