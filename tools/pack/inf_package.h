// The INF checks as `create` and `inspect` run them: the INF file read from
// the folder, the .zip file or the package, checked against the archive's
// members and the package's road, and reported.
#ifndef VANTREL_PACK_INF_PACKAGE_H
#define VANTREL_PACK_INF_PACKAGE_H

#include <ostream>
#include <string>
#include <vector>

#include "inf_finding.h"
#include "inf_roads.h"

namespace vantrel_pack {

class ByteSource;
struct ArchiveWalk;
struct CreateOptions;

// For `create`, once the INF is chosen: prints warnings and notes to `err`,
// and each error, then throws PackError, unless --no-inf-check was given
// (the errors are then printed as warnings).
void CheckInfForCreate(const CreateOptions &options, const std::vector<std::string> &members,
                       const std::string &infName, std::ostream &err);

// What `inspect` shows of the INF: its roads and command lines, and what
// the checks found (texts in UTF-8).
struct InfInspection {
  std::vector<InfRoad> roads;
  bool checked = false;  // false: the INF could not be read (see `unreadable`)
  std::string unreadable;
  std::vector<InfFinding> findings;
};

InfInspection InspectInf(const ByteSource &package, const ArchiveWalk &walk,
                         const std::string &infName, bool useAdvpack, int codePage);

void PrintInfText(const InfInspection &inf, std::ostream &out);
// The value of the report's "inf" member, one JSON object.
void PrintInfJson(const InfInspection &inf, std::ostream &out);

}  // namespace vantrel_pack

#endif
