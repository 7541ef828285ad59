#include "format.h"

#include "cli/errors.h"

namespace vantrel_pack {
namespace {

void PutNumber(std::vector<uint8_t> &header, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) header[at + i] = uint8_t(value >> (8 * i));
}

uint8_t ShortLength(const std::string &text, const char *what) {
  if (text.size() > kLongestShortText) {
    throw PackError(std::string(what) + " is longer than " + std::to_string(kLongestShortText) +
                    " bytes");
  }
  return uint8_t(text.size());
}

uint32_t LongLength(const std::string &text, const char *what) {
  if (text.size() > kLargestPackage) throw PackError(std::string(what) + " is too long");
  return uint32_t(text.size());
}

}  // namespace

std::vector<uint8_t> EncodePackageHeader(const PackageHeader &header, const PackageTexts &texts) {
  std::vector<uint8_t> out(kFixedHeaderSize, 0);
  for (size_t i = 0; i < 3; ++i) out[kMagicAt + i] = uint8_t(kHeaderMagic[i]);
  out[kStayOpenAt] = header.stayOpen;
  out[kTitleLengthAt] = ShortLength(texts.title, "the title");
  out[kInfNameLengthAt] = ShortLength(texts.infName, "the INF name");
  out[kAdminRequiredAt] = header.adminRequired;
  out[kStoredPasswordLengthAt] = ShortLength(texts.storedPassword, "the stored password");
  PutNumber(out, kWelcomeTextLengthAt, LongLength(texts.welcomeText, "the welcome text"));
  PutNumber(out, kLicenceTextLengthAt, LongLength(texts.licenceText, "the licence text"));
  out[kFirstReservedAt] = header.reserved16;
  out[kMultiPartAt] = header.multiPart;
  out[kSkipIntegrityCheckAt] = header.skipIntegrityCheck;
  out[kUseAdvpackAt] = header.useAdvpack;
  out[kSecondReservedAt] = header.reserved20;
  PutNumber(out, kTotalSizeAt, uint32_t(header.totalSize));
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

}  // namespace vantrel_pack
