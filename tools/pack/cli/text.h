// Texts as the tool takes and shows them. Texts given on the command line
// or in files are UTF-8; the stub shows them with the ANSI functions, so
// they are stored in a Windows code page with CR LF line ends. What the tool
// prints escapes what a terminal or a JSON reader would misread.
#ifndef VANTREL_PACK_CLI_TEXT_H
#define VANTREL_PACK_CLI_TEXT_H

#include <cstdint>
#include <string>

namespace vantrel_pack {

// UTF-8 to the code page; throws PackError naming `what` and the first
// character that the code page cannot hold.
std::string ToCodePage(const std::string &utf8, int codePage, const std::string &what);

// The code page back to UTF-8 for display; bytes that do not convert are
// shown as Latin-1.
std::string FromCodePage(const std::string &text, int codePage);

// UTF-8 to UTF-16LE bytes, for the Unicode strings of a resource; throws
// PackError naming `what` when the text is not valid UTF-8.
std::string ToUtf16(const std::string &utf8, const std::string &what);

// UTF-16LE bytes back to UTF-8; what does not convert is dropped.
std::string FromUtf16(const std::string &utf16);

// LF, CR and CR LF all become CR LF.
std::string ToCrLf(const std::string &text);

// A UTF-8 byte-order mark at the start is dropped.
std::string WithoutByteOrderMark(const std::string &text);

// ASCII letters in lower case, as Windows and its installers compare names
// (other bytes stay: their case depends on the code page).
std::string FoldCase(std::string text);

enum class Escape {
  kControls,  // control characters as \xNN: a name inside a message
  kText,      // also \" \\ \r \n \t: a text shown in quotes
  kJson,      // the same as a JSON string writes them (\u00NN)
};
std::string Escaped(const std::string &text, Escape how);
// In double quotes, escaped for display or for JSON.
std::string Quoted(const std::string &text, Escape how);

// Eight upper-case hexadecimal digits.
std::string Hex32(uint32_t value);

}  // namespace vantrel_pack

#endif
