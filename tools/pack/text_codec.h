// Texts given on the command line or in files are UTF-8; the stub shows
// them with the ANSI functions, so they are stored in a Windows code page
// with CR LF line ends.
#ifndef VANTREL_PACK_TEXT_CODEC_H
#define VANTREL_PACK_TEXT_CODEC_H

#include <string>

namespace vantrel_pack {

// UTF-8 to the code page; throws PackError naming `what` and the first
// character that the code page cannot hold.
std::string ToCodePage(const std::string &utf8, int codePage, const std::string &what);

// The code page back to UTF-8 for display; bytes that do not convert are
// shown as Latin-1.
std::string FromCodePage(const std::string &text, int codePage);

// LF, CR and CR LF all become CR LF.
std::string ToCrLf(const std::string &text);

// Whether iconv knows the code page.
bool CodePageSupported(int codePage);

}  // namespace vantrel_pack

#endif
