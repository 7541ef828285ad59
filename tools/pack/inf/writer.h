// Writing an INF file that installs a folder on both roads, or on the one
// the package targets: every file with
// its sub-folder, Start-menu shortcuts, an Add/Remove Programs entry whose
// uninstall removes what the installation made, and a copy of the INF in the
// system's INF folder for that uninstall to run.
#ifndef VANTREL_PACK_INF_WRITER_H
#define VANTREL_PACK_INF_WRITER_H

#include <string>
#include <vector>

#include "finding.h"

namespace vantrel_pack {

struct InfShortcut {
  std::string name;    // the shortcut's name, without .lnk
  std::string target;  // the program, relative to the folder, '/' between folders
};

struct InfPlan {
  std::string infName;  // the INF's own 8.3 file name
  std::string name;     // the application's name (Add/Remove Programs, Start-menu folder)
  std::string version;  // may be empty
  std::string publisher;
  // Empty: a folder named like the application under Program Files. A
  // folder ("Acme\Mines"): that folder under Program Files. "DIRID[,SUB]":
  // a system folder by directory id, and a sub-folder of it.
  std::string destination;
  std::vector<InfShortcut> shortcuts;
  bool advpack = false;
  unsigned targets = kTargetsAll;  // kTarget* bits: the roads the INF is written for
  std::vector<std::string> files;  // relative paths, '/' between folders, without the INF
  int codePage = 1252;             // of every text, in which Windows compares names
};

// The end of the first line of every INF this writer makes, after the
// application's name and version: how create knows an INF it can take the
// names of [Strings] from.
extern const char kWrittenInfMark[];

// The INF's text (CR LF line ends, texts as given: the caller converts
// them to the package's code page). Throws PackError for what an INF cannot
// express: two files of the same name in different folders, a shortcut to a
// file that is not there, names with characters Windows or the INF syntax
// cannot hold.
std::string WriteInf(const InfPlan &plan);

}  // namespace vantrel_pack

#endif
