#include "recorded.h"

namespace vantrel_pack {
namespace {

// The code pages Windows takes for ANSI names, the system's "ANSI code
// page" on some edition, with the scripts they write. A package records the
// position in this list plus one: the order is part of every package made,
// so entries are only ever added at the end.
const struct {
  int codePage;
  const char *script;
} kAnsiCodePages[] = {
    {1252, "Western European"}, {932, "Japanese"},   {936, "Simplified Chinese"},
    {949, "Korean"},            {950, "Traditional Chinese"}, {874, "Thai"},
    {1250, "Central European"}, {1251, "Cyrillic"},  {1253, "Greek"},
    {1254, "Turkish"},          {1255, "Hebrew"},    {1256, "Arabic"},
    {1257, "Baltic"},           {1258, "Vietnamese"}, {65001, "UTF-8"},
};
const int kCount = int(sizeof kAnsiCodePages / sizeof kAnsiCodePages[0]);

}  // namespace

uint8_t CodePageMark(int codePage) {
  for (int i = 0; i < kCount; ++i) {
    if (kAnsiCodePages[i].codePage == codePage) return uint8_t(i + 1);
  }
  return 0;
}

PackageCodePage CodePageOf(const PackageHeader &header, std::optional<int> given) {
  PackageCodePage result;
  if (given) {
    result.codePage = *given;
    result.from = PackageCodePage::kGiven;
  } else if (header.reserved16 >= 1 && header.reserved16 <= kCount) {
    result.codePage = kAnsiCodePages[header.reserved16 - 1].codePage;
    result.from = PackageCodePage::kRecorded;
  }
  return result;
}

std::string PackageCodePage::Describe() const {
  const char *why = from == kGiven      ? "--codepage"
                    : from == kRecorded ? "recorded in the package"
                                        : "not recorded in the package: the default";
  return std::to_string(codePage) + " (" + why + ")";
}

std::string CodePageScript(int codePage) {
  for (const auto &known : kAnsiCodePages) {
    if (known.codePage == codePage) return known.script;
  }
  return "code page " + std::to_string(codePage);
}

uint8_t TargetsMark(unsigned targets) { return uint8_t(targets & 3); }

unsigned MarkedTargets(const PackageHeader &header) {
  return header.reserved20 <= 3 ? header.reserved20 : 0;
}

}  // namespace vantrel_pack
