#include "zip_source.h"

#include <algorithm>

#include "byte_source.h"
#include "central_directory.h"
#include "pack_error.h"
#include "package_format.h"
#include "startup/package.h"
#include "zip_walk.h"

namespace vantrel_pack {
namespace {

uint32_t Get(const std::vector<uint8_t> &b, size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | b[at + size_t(i)];
  return value;
}

// The end record nearest the end of the file, for the entry count and the
// Zip64 marks; false when there is none.
bool FindEndRecord(const ByteSource &zip, uint32_t &entries, bool &zip64) {
  uint64_t size = zip.Size();
  uint64_t window = std::min<uint64_t>(size, uint64_t(kMaxEndWindow));
  std::vector<uint8_t> tail = zip.ReadBytes(size - window, size_t(window));
  for (size_t i = tail.size() >= 22 ? tail.size() - 22 + 1 : 0; i-- > 0;) {
    if (Get(tail, i, 4) != 0x06054B50) continue;
    entries = Get(tail, i + 10, 2);
    zip64 = entries == 0xFFFF || Get(tail, i + 12, 4) == 0xFFFFFFFF ||
            Get(tail, i + 16, 4) == 0xFFFFFFFF ||
            (i >= 20 && Get(tail, i - 20, 4) == 0x07064B50);  // Zip64 locator
    return true;
  }
  return false;
}

}  // namespace

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
  uint32_t entries = 0;  // the Zip64 marks are what matters here
  bool zip64 = false;
  if (!FindEndRecord(zip, entries, zip64)) throw PackError(zipPath + " has no zip end record");
  if (zip64) throw PackError(zipPath + " is a Zip64 archive");
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
