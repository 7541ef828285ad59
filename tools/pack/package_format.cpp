#include "package_format.h"

#include "pack_error.h"
#include "startup/descramble.h"

namespace vantrel_pack {
namespace {

void PutLittleEndian(std::vector<uint8_t> &out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

uint8_t ShortLength(const std::string &text, const char *what) {
  if (text.size() > 255) throw PackError(std::string(what) + " is longer than 255 bytes");
  return uint8_t(text.size());
}

int32_t LongLength(const std::string &text, const char *what) {
  if (text.size() > 0x7FFFFFFF) throw PackError(std::string(what) + " is too long");
  return int32_t(text.size());
}

}  // namespace

std::string ScrambleText(const std::string &text) {
  std::string result = text;
  // The stub's own procedure: XOR with its key stream undoes itself.
  Descramble(reinterpret_cast<BYTE *>(&result[0]), LONG(result.size()));
  return result;
}

std::vector<uint8_t> EncodePackageHeader(const PackageHeader &header, const PackageTexts &texts) {
  std::vector<uint8_t> out = {'Z', 'E', 'P'};
  out.push_back(header.stayOpen ? 1 : 0);
  out.push_back(ShortLength(texts.title, "the title"));
  out.push_back(ShortLength(texts.infName, "the INF name"));
  out.push_back(header.adminRequired ? 1 : 0);
  out.push_back(ShortLength(texts.storedPassword, "the stored password"));
  PutLittleEndian(out, uint32_t(LongLength(texts.welcomeText, "the welcome text")), 4);
  PutLittleEndian(out, uint32_t(LongLength(texts.licenceText, "the licence text")), 4);
  out.push_back(header.reserved16);
  out.push_back(header.multiPart ? 1 : 0);
  out.push_back(header.skipIntegrityCheck ? 1 : 0);
  out.push_back(header.useAdvpack ? 1 : 0);
  out.push_back(header.reserved20);
  PutLittleEndian(out, uint32_t(header.totalSize), 4);
  for (const std::string *text : {&texts.title, &texts.infName}) {
    out.insert(out.end(), text->begin(), text->end());
  }
  for (const std::string *text : {&texts.storedPassword, &texts.welcomeText, &texts.licenceText}) {
    std::string scrambled = ScrambleText(*text);
    out.insert(out.end(), scrambled.begin(), scrambled.end());
  }
  return out;
}

uint64_t ArchiveBase(const PackageTexts &texts) {
  return kTextsOffset + texts.title.size() + texts.infName.size() + texts.storedPassword.size() +
         texts.welcomeText.size() + texts.licenceText.size();
}

std::string PartName(const std::string &programPath, int number) {
  std::string digits = std::to_string(number);
  digits.insert(0, 3 - digits.size(), '0');
  if (programPath.size() < 3) return digits;
  return programPath.substr(0, programPath.size() - 3) + digits;
}

}  // namespace vantrel_pack
