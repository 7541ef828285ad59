// The checks of a package's INF file against its road and its archive:
// the sections the stub will run exist; every file the install sections copy
// resolves through [SourceDisksNames]/[SourceDisksFiles] to a member of the
// archive and has a destination; every section a directive names exists; the
// INF's name fits every road. `create` refuses the errors, `inspect` shows
// them as warnings.
#ifndef VANTREL_PACK_INF_CHECK_H
#define VANTREL_PACK_INF_CHECK_H

#include <string>
#include <vector>

#include "finding.h"

namespace vantrel_pack {

struct InfSubject {
  std::string infName;               // as the stub names it, '\' between folders
  std::string infText;               // the file's bytes
  std::vector<std::string> members;  // archive member names ('/' or '\')
  bool useAdvpack = false;
  unsigned targets = 0;  // kTarget* bits; 0: as the INF's Signature says
  int codePage = 1252;   // of the names, which Windows compares in it
};

// The Windows families an INF is written for, as Microsoft defines its
// Signature: "$Windows NT$" the NT family only, "$Chicago$" and
// "$Windows 95$" every family. Without a signature: every family.
unsigned SignatureTargets(const std::string &infText);

// The targets of `subject`: its own, else the INF's (every family when the
// text is empty, as for an INF that cannot be read).
unsigned SubjectTargets(const InfSubject &subject);

// Every finding, errors first within each kind of check; a fault that
// concerns only a road outside the subject's targets is a note.
std::vector<InfFinding> CheckInf(const InfSubject &subject);

struct InfFile;

// The install sections the package's roads run on the families of
// `targets`, as the INF names them (only those it has).
std::vector<std::string> InstallSectionsRun(const InfFile &inf, bool useAdvpack, unsigned targets);

// An INF at the top of the archive, where create looks for one.
bool IsTopLevelInf(const std::string &name);

// The name checks alone, for an INF whose text cannot be read (encrypted).
std::vector<InfFinding> CheckInfName(const InfSubject &subject);

}  // namespace vantrel_pack

#endif
