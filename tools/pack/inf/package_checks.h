// The INF checks as `create` and `inspect` run them: the INF file (read from
// the folder, or extracted by the stub from the archive) checked against the
// archive's members and the package's road, and reported.
#ifndef VANTREL_PACK_INF_PACKAGE_CHECKS_H
#define VANTREL_PACK_INF_PACKAGE_CHECKS_H

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "finding.h"
#include "roads.h"
#include "zip/walk_view.h"

namespace vantrel_pack {

class ByteSource;

// The INF member named `infName` (by any name Windows takes for it in
// `codePage`; of several, the last, which replaces the others) as the stub
// extracts it from the archive `source` it walked as `walk`; an empty
// optional with `why` set when it cannot be read here.
// A member larger than kLargestInf is not read, and sets `tooLarge`.
std::optional<std::string> ReadInfMember(const ByteSource &source, const ArchiveWalk &walk,
                                         const std::string &infName, int codePage,
                                         std::string &why, bool *tooLarge = nullptr);

// Why an INF over kLargestInf was not read.
std::string TooLargeText();

// What `create` checks: the INF named as the stub names it, its text when
// it could be read (else why not), and the package's road.
struct InfForCreate {
  std::string infName;
  std::optional<std::string> text;
  std::string unreadable;
  bool tooLarge = false;  // over kLargestInf: refused, not merely unchecked
  std::vector<std::string> members;
  bool useAdvpack = false;
  int codePage = 1252;
  bool errorsAsWarnings = false;  // --no-inf-check
  unsigned targets = 0;           // --targets; 0: as the INF's Signature says
};

// Prints warnings and notes to `err`, and each error, then throws
// PackError, unless the errors are to be warnings.
void CheckInfForCreate(const InfForCreate &check, std::ostream &err);

// What `inspect` shows of the INF: its roads and command lines, and what
// the checks found (texts in UTF-8).
struct InfInspection {
  unsigned targets = kTargetsAll;  // the Windows families the package is made for
  bool targetsRecorded = false;    // create was told them (--targets), not the Signature
  std::vector<InfRoad> roads;      // the roads of those families
  bool checked = false;            // false: the INF could not be read (see `unreadable`)
  std::string unreadable;
  std::optional<std::string> text;  // the INF's bytes, when they could be read
  std::vector<InfFinding> findings;
};

InfInspection InspectInf(const ByteSource &package, const ArchiveWalk &walk,
                         const std::string &infName, bool useAdvpack, int codePage,
                         unsigned recordedTargets);

void PrintInfText(const InfInspection &inf, std::ostream &out);
// The value of the report's "inf" member, one JSON object.
void PrintInfJson(const InfInspection &inf, std::ostream &out);

}  // namespace vantrel_pack

#endif
