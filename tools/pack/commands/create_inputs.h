// What create reads and checks before it writes anything.
#ifndef VANTREL_PACK_COMMANDS_CREATE_INPUTS_H
#define VANTREL_PACK_COMMANDS_CREATE_INPUTS_H

#include <string>
#include <vector>

#include "create.h"
#include "package/format.h"

namespace vantrel_pack {

// Whether SOURCE is a folder (else a .zip).
bool IsFolder(const std::string &path);

// The stub image: --stub, or the default stub (stub_image.h); exactly the
// image size and a program. Throws PackError.
std::string LoadStub(const CreateOptions &options);

// The title, welcome and licence texts in the package's code page with CR
// LF line ends. Throws PackError for a text the code page cannot hold, one
// too long, or an empty one (the stub takes an empty text for none).
PackageTexts MakeTexts(const CreateOptions &options);

// The INF file the stub hands to the installer, named as in the archive
// with '\' between folders: --inf, or the only .inf at the top.
std::string ChooseInf(const std::vector<std::string> &names, const CreateOptions &options);

// --password in the code page, as the user can type it into the password
// dialog. Throws PackError.
std::string CheckedPassword(const CreateOptions &options);

}  // namespace vantrel_pack

#endif
