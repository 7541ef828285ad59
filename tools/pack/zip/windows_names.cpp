#include "windows_names.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cstdio>
#include <unordered_map>

#include "bridge/stub_rules.h"
#include "cli/text.h"
#include "walk_view.h"

namespace vantrel_pack {
namespace {

// Lead-byte ranges of the double-byte ANSI code pages, as Windows' tables
// for them give them (the LeadByte ranges GetCPInfo reports): Japanese
// Shift-JIS, simplified Chinese GBK, Korean, traditional Chinese Big5.
const struct {
  int codePage;
  unsigned char ranges[6];
} kDoubleByte[] = {
    {932, {0x81, 0x9F, 0xE0, 0xFC, 0, 0}},
    {936, {0x81, 0xFE, 0, 0, 0, 0}},
    {949, {0x81, 0xFE, 0, 0, 0, 0}},
    {950, {0x81, 0xFE, 0, 0, 0, 0}},
};

const unsigned char kNoLeadBytes[] = {0, 0};

// One byte of a single-byte code page as a Unicode character; 0 when it
// stands for none.
wint_t Unicode(iconv_t toUnicode, unsigned char byte) {
  char in = char(byte);
  uint32_t out = 0;
  char *inPtr = &in, *outPtr = reinterpret_cast<char *>(&out);
  size_t inLeft = 1, outLeft = sizeof out;
  if (iconv(toUnicode, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || outLeft != 0) return 0;
  return wint_t(out);
}

// A Unicode character as one byte of the code page, or -1.
int CodePageByte(iconv_t fromUnicode, wint_t c) {
  uint32_t in = uint32_t(c);
  unsigned char out[4];
  char *inPtr = reinterpret_cast<char *>(&in), *outPtr = reinterpret_cast<char *>(out);
  size_t inLeft = sizeof in, outLeft = sizeof out;
  iconv(fromUnicode, nullptr, nullptr, nullptr, nullptr);
  if (iconv(fromUnicode, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1)) return -1;
  return outLeft == sizeof out - 1 ? out[0] : -1;
}

// Windows compares file names in upper case, character by character. A
// letter of a single-byte code page folds onto its capital when the capital
// is in the code page too and folds back onto it (so dotless i, final sigma
// and the like stay apart, as in the file systems' upper-case tables).
void FoldUpperHalf(int codePage, std::array<unsigned char, 256> &upper) {
  const std::string name = "CP" + std::to_string(codePage);
  iconv_t toUnicode = iconv_open("UTF-32LE", name.c_str());
  iconv_t fromUnicode = iconv_open(name.c_str(), "UTF-32LE");
  locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  if (toUnicode != iconv_t(-1) && fromUnicode != iconv_t(-1) && unicode != locale_t(0)) {
    for (int byte = 0x80; byte < 0x100; ++byte) {
      wint_t c = Unicode(toUnicode, (unsigned char)byte);
      wint_t capital = c ? towupper_l(c, unicode) : 0;
      if (capital == c || towlower_l(capital, unicode) != c) continue;
      int folded = CodePageByte(fromUnicode, capital);
      if (folded >= 0) upper[byte] = (unsigned char)folded;
    }
  }
  if (unicode != locale_t(0)) freelocale(unicode);
  if (toUnicode != iconv_t(-1)) iconv_close(toUnicode);
  if (fromUnicode != iconv_t(-1)) iconv_close(fromUnicode);
}

// A component as Windows stores it: trailing dots and spaces dropped.
std::string Trimmed(std::string part) {
  while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
  return part;
}

std::string HexBytes(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%s%02X", out.empty() ? "" : " ", c);
    out += hex;
  }
  return out;
}

}  // namespace

WindowsNames::WindowsNames(int codePage) : codePage_(codePage), leadRanges_(kNoLeadBytes) {
  for (int c = 0; c < 256; ++c) upper_[c] = (unsigned char)(c >= 'a' && c <= 'z' ? c - 32 : c);
  for (const auto &table : kDoubleByte) {
    if (table.codePage == codePage) leadRanges_ = table.ranges;
  }
  // In a double-byte code page only ASCII folds; UTF-8 has no single-byte
  // letters above ASCII.
  if (leadRanges_ == kNoLeadBytes && codePage != 65001) FoldUpperHalf(codePage, upper_);
}

bool WindowsNames::IsLeadByte(unsigned char c) const {
  for (const unsigned char *range = leadRanges_; range[0]; range += 2) {
    if (c >= range[0] && c <= range[1]) return true;
  }
  return false;
}

std::vector<std::string> WindowsNames::Components(const std::string &name) const {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsLeadByte((unsigned char)name[i]) && i + 1 < name.size()) {
      parts.back() += name.substr(i++, 2);
    } else if (StubSplitsNameAt(name[i])) {
      parts.emplace_back();
    } else {
      parts.back() += name[i];
    }
  }
  return parts;
}

std::string WindowsNames::Key(const std::string &name) const {
  std::string key;
  for (const std::string &part : Components(name)) {
    std::string trimmed = Trimmed(part);
    // ".." climbs, even written "..." or ".. "; "." and "" stay in place.
    if (trimmed.empty() && part.find("..") != std::string::npos) trimmed = "..";
    if (trimmed.empty()) continue;
    if (!key.empty()) key += '\\';
    for (size_t i = 0; i < trimmed.size(); ++i) {
      if (IsLeadByte((unsigned char)trimmed[i]) && i + 1 < trimmed.size()) {
        key += trimmed.substr(i++, 2);  // a second byte is no letter
      } else {
        key += char(upper_[(unsigned char)trimmed[i]]);
      }
    }
  }
  return key;
}

std::string WindowsNames::Unmakeable(const std::string &name) const {
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = (unsigned char)name[i];
    if (IsLeadByte(c) && i + 1 < name.size()) {
      unsigned char second = (unsigned char)name[++i];
      if (!StubSplitsNameAt(char(second))) continue;
      std::string character = name.substr(i - 1, 2);
      return "in code page " + std::to_string(codePage_) + " the character " +
             Quoted(FromCodePage(character, codePage_), Escape::kControls) + " (bytes " +
             HexBytes(character) + ") ends in the byte of \"" + char(second) +
             "\", which the stub takes for a folder separator: rename the file";
    }
    if (c < 0x20) {
      return "the control character " + Escaped(std::string(1, char(c)), Escape::kControls) +
             " cannot be in a file name on Windows";
    }
    if (std::string("<>:\"|?*").find(char(c)) != std::string::npos) {
      return std::string("the character \"") + char(c) + "\" cannot be in a file name on Windows";
    }
  }
  if (!NameStaysInsideFolder(name)) {
    return "name leads outside the extraction folder or names a device";
  }
  return "";
}

std::vector<NameFinding> WindowsNameFindings(const std::vector<std::string> &names,
                                             const WindowsNames &windows, bool files) {
  std::vector<NameFinding> found;
  auto label = [&](size_t i) {
    std::string shown = FromCodePage(names[i], windows.codePage());
    return files ? Quoted(shown, Escape::kControls) : MemberLabel(i, shown);
  };
  // The first member that is each file, and the first that needs each folder.
  std::unordered_map<std::string, size_t> fileKeys, folders;
  for (size_t i = 0; i < names.size(); ++i) {
    std::string problem = windows.Unmakeable(names[i]);
    if (!problem.empty()) {
      found.push_back({i, label(i) + ": " + problem, true});
      continue;
    }
    std::vector<std::string> parts = windows.Components(names[i]);
    // A folder entry ("dir/") ends in an empty component: all of it is folders.
    const size_t folderParts = parts.back().empty() ? parts.size() : parts.size() - 1;
    std::string path;
    bool clashed = false;
    for (size_t p = 0; p < folderParts && !clashed; ++p) {
      path += (p ? "/" : "") + parts[p];
      std::string key = windows.Key(path);
      if (key.empty()) continue;
      auto file = fileKeys.find(key);
      if (file != fileKeys.end()) {
        found.push_back({i,
                         label(i) + " needs a folder where " + label(file->second) +
                             " is a file; Windows cannot make both: rename one",
                         true});
        clashed = true;
      } else {
        folders.emplace(key, i);
      }
    }
    if (clashed || folderParts == parts.size()) continue;
    std::string key = windows.Key(names[i]);
    auto folder = folders.find(key);
    auto file = fileKeys.find(key);
    if (folder != folders.end()) {
      found.push_back({i,
                       label(i) + " is a file where " + label(folder->second) +
                           " needs a folder; Windows cannot make both: rename one",
                       true});
    } else if (file != fileKeys.end()) {
      found.push_back({i,
                       label(file->second) + " and " + label(i) +
                           " are one file on Windows, which folds case and drops trailing "
                           "dots and spaces: the later replaces the earlier; rename one",
                       false});
    } else {
      fileKeys.emplace(key, i);
    }
  }
  return found;
}

}  // namespace vantrel_pack
