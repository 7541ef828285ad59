// The stub vantrel-pack uses when no --stub is given, and the name by which
// a pipeline pins a stub: its size and a short hash.
#ifndef VANTREL_PACK_COMMANDS_STUB_IMAGE_H
#define VANTREL_PACK_COMMANDS_STUB_IMAGE_H

#include <ostream>
#include <string>
#include <vector>

namespace vantrel_pack {

// The places the default stub is looked for, in order, for the program at
// `self`: vantrel-stub.exe beside it (a build tree), then
// ../share/vantrel/vantrel-stub.exe from its folder (an installed tree).
std::vector<std::string> StubPlaces(const std::string &self);

// This program's own path, with links resolved; empty when unknown.
std::string ProgramPath();

// The first of StubPlaces(ProgramPath()) that is a regular file; throws
// PackError naming every place looked at when there is none.
std::string FindDefaultStub();

// The stub's short hash: the first 12 hex digits of SHA-256 over the image
// with its PE checksum and security entry read as zeros, and what create
// fills in per package (the execution level, the version information)
// blanked. The first two are the fields a signing tool rewrites
// (Authenticode leaves them out of its hash for the same reason), so a
// package, signed or not, names the same stub as the file it was made with. For a file without a PE header it is the start of
// the file's own SHA-256.
std::string StubHash(const std::string &image);

// "35328 bytes, sha256 0123456789ab": what --version and inspect show.
std::string DescribeStub(const std::string &image);

// `vantrel-pack --version`: the tool's version and its default stub's.
// Returns 1 when no usable stub is found.
int PrintVersion(std::ostream &out, std::ostream &err);

}  // namespace vantrel_pack

#endif
