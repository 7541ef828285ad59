// The roads by which the stub hands a package's INF file to an installer:
// which program and section each runs, on which Windows, and the command line
// the stub builds for it (with the stub's own procedure) under a typical
// temporary folder. Also the rules an INF name must meet on every road.
#ifndef VANTREL_PACK_INF_ROADS_H
#define VANTREL_PACK_INF_ROADS_H

#include <string>
#include <vector>

#include "finding.h"

namespace vantrel_pack {

// The 16-bit rundll.exe of Windows 95/98 receives at most this many
// characters after its own name (the command tail of a 16-bit program).
constexpr size_t kSixteenBitArgumentLimit = 126;

struct InfRoad {
  std::string installer;  // "setupapi", "setupx", "advpack"
  std::string platform;   // "NT family", "Windows 95/98"
  std::string section;    // the section named on the command line
  std::string folder;     // the typical temporary folder the line is shown with
  std::string program;    // the installer program, where a typical machine has it
  std::string commandLine;
  // What follows the program's name, with the space before it: what a
  // 16-bit program receives.
  size_t argumentsLength = 0;
  bool sixteenBit = false;      // started through rundll.exe
  unsigned family = kTargetNt;  // kTargetNt or kTarget9x
};

// The runs of a package: setupapi and setupx without advpack; advpack's two
// runs on each platform with it. `infName` as the stub names it.
std::vector<InfRoad> PackageRoads(bool useAdvpack, const std::string &infName);

// --targets nt, 9x or all as kTarget* bits; throws UsageError naming `option`.
unsigned ParseTargets(const std::string &value, const std::string &option);

// "the NT family", "Windows 95/98" or "the NT family and Windows 95/98".
std::string TargetsText(unsigned targets);

// The roads of `roads` that run on `targets`.
std::vector<InfRoad> TargetRoads(const std::vector<InfRoad> &roads, unsigned targets);

// What is wrong with `infName` on the roads of the package; empty when the
// name is fine everywhere.
std::vector<InfFinding> InfNameFindings(bool useAdvpack, const std::string &infName);

// An 8.3 name without spaces or commas made from `name` (e.g. "acmemine.inf"),
// never a device's ("Aux" gives auxapp.inf, and sets `avoidedDevice`).
std::string ShortInfName(const std::string &name, bool *avoidedDevice = nullptr);

// Whether the file name `name` is one Windows takes for a device (CON, AUX,
// NUL, PRN, COM1-9, LPT1-9 ... in any case, with or without an extension).
bool IsDeviceInfName(const std::string &name);

// Whether `component` is an 8.3 name a 16-bit program can open: 1 to 8
// characters, a dot and at most 3 more, none of them a space, comma or other
// character DOS names cannot hold.
bool IsShortName(const std::string &component);

}  // namespace vantrel_pack

#endif
