// A .zip file given as SOURCE: accepted only when the stub can walk and
// extract every member of it.
#ifndef VANTREL_PACK_ZIP_SOURCE_H
#define VANTREL_PACK_ZIP_SOURCE_H

#include <ostream>
#include <string>
#include <vector>

namespace vantrel_pack {

// Returns the member names in walk order; throws PackError naming the
// first member the stub could not handle. Harmless findings (more files
// than the stub cleans up) go to `err` as warnings.
std::vector<std::string> CheckZipForStub(const std::string &zipPath, std::ostream &err);

}  // namespace vantrel_pack

#endif
