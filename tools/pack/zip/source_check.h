// A .zip file given as SOURCE: accepted only when the stub's own walk finds
// every member extractable and the central directory, which zip tools
// show, lists just what that walk installs.
#ifndef VANTREL_PACK_ZIP_SOURCE_CHECK_H
#define VANTREL_PACK_ZIP_SOURCE_CHECK_H

#include <ostream>
#include <string>

#include "walk_view.h"

namespace vantrel_pack {

// The archive as the stub walks it; throws PackError naming the first
// member the stub could not handle, or whose name Windows cannot make or
// takes for another member's in `codePage` (windows_names.h). Harmless
// findings (more files than the stub cleans up) go to `err` as warnings.
ArchiveWalk CheckZipForStub(const std::string &zipPath, int codePage, std::ostream &err);

// The same checks of an archive this tool wrote for a folder; any finding
// is a fault of the tool, reported as such.
void CheckWrittenZip(const std::string &zipPath, const std::string &folder, int codePage,
                     std::ostream &err);

}  // namespace vantrel_pack

#endif
