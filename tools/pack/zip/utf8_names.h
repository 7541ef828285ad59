// Members whose names a zip tool marked as UTF-8 (general-purpose bit 11,
// as 7-Zip and Info-ZIP write non-ASCII names). The stub creates every file
// with the ANSI calls and takes a name's bytes in the system's code page, so
// such a name would come out garbled: it goes into the package converted to
// the package's code page, or the package is refused.
#ifndef VANTREL_PACK_ZIP_UTF8_NAMES_H
#define VANTREL_PACK_ZIP_UTF8_NAMES_H

#include <string>
#include <vector>

#include "walk_view.h"

namespace vantrel_pack {

class ByteSource;

// The general-purpose flag that marks a name (and comment) as UTF-8.
constexpr uint16_t kUtf8NameFlag = 0x0800;

// Whether a member of `walk` is flagged UTF-8 and has a byte above 127 in
// its name (a flagged ASCII name reads the same in every code page).
bool HasUtf8Names(const ArchiveWalk &walk);

// The first member whose name is not flagged UTF-8 yet reads as UTF-8 (a
// byte above 127, and every such byte part of a well-formed sequence), as
// Info-ZIP 3.0 writes non-ASCII names; empty when there is none. The stub
// would create such a name in the code page, garbled.
std::string UnmarkedUtf8Name(const ArchiveWalk &walk);

// Every member's name in `codePage`: the flagged ones converted, the rest as
// they are. Throws PackError naming the member, the character and
// --codepage when a name cannot be written in the code page.
// With `unmarkedToo` (--utf8-names), names that read as UTF-8 without the
// mark are converted as well.
std::vector<std::string> CodePageNames(const ArchiveWalk &walk, int codePage,
                                       bool unmarkedToo = false);

// Writes the archive `source` (walked as `walk`, its central directory
// agreeing with the walk) to `outPath` with each member named `names[i]`
// and its UTF-8 flag cleared; a member whose new name is empty is left
// out. Every other byte of the headers and all data stay as they were.
// Throws PackError.
void WriteRenamedZip(const ByteSource &source, const ArchiveWalk &walk,
                     const std::vector<std::string> &names, const std::string &outPath);

}  // namespace vantrel_pack

#endif
