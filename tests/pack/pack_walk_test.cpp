// The package reader (the stub's own loader and its rule for the file's
// end) and the walk of local headers that inspect reports, on hand-made
// bytes.
#include <cstring>

#include "pack_fixture.h"
#include "support/package_builder.h"
#include "package_format.h"
#include "package_reader.h"
#include "zip_walk.h"

namespace pack_test {
namespace {

using vantrel_pack::ArchiveWalk;
using vantrel_pack::WalkArchive;
using vantrel_pack::WalkWarnings;

class MemorySource : public vantrel_pack::ByteSource {
 public:
  explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_.size(); }
  size_t Read(uint64_t offset, void *buffer, size_t count) const override {
    if (offset >= bytes_.size() || count == 0) return 0;
    size_t n = std::min<size_t>(count, bytes_.size() - size_t(offset));
    std::memcpy(buffer, bytes_.data() + offset, n);
    return n;
  }

 private:
  std::string bytes_;
};

std::string WithComment(std::string zip, const std::string &comment) {
  zip[zip.size() - 2] = char(comment.size() & 0xFF);
  zip[zip.size() - 1] = char(comment.size() >> 8);
  return zip + comment;
}

// A package whose title is `prefix`, so that the archive begins right
// after it, followed by `archive`.
std::string PackageWith(const std::string &prefix, const std::string &archive) {
  vantrel_pack::PackageTexts texts;
  texts.title = prefix;
  std::vector<uint8_t> head = vantrel_pack::EncodePackageHeader({}, texts);
  return std::string(kStubBytes, 'M') + std::string(head.begin(), head.end()) + archive;
}

std::vector<std::string> Texts(const ArchiveWalk &walk) {
  std::vector<std::string> texts;
  for (const auto &problem : WalkWarnings(walk)) texts.push_back(problem.text);
  return texts;
}

bool Mentions(const std::vector<std::string> &texts, const std::string &part) {
  for (const std::string &text : texts) {
    if (text.find(part) != std::string::npos) return true;
  }
  return false;
}

class PackIntegrity : public PackTest {
 protected:
  bool Passes(const std::string &prefix, const std::string &archive) {
    WriteFile(dir / "p.exe", PackageWith(prefix, archive));
    vantrel_pack::PackageView view = vantrel_pack::ReadPackage((dir / "p.exe").string());
    EXPECT_EQ(view.archiveBase, kStubBytes + 25 + prefix.size());
    return PackageEndPasses(view.end);
  }
};

TEST_F(PackIntegrity, EndRecordMustReachTheEndOfTheFile) {
  const std::string head(100, 'h');
  const std::string zip = CraftZip({{"a.txt", "alpha"}});
  EXPECT_TRUE(Passes(head, zip));
  EXPECT_TRUE(Passes(head, WithComment(zip, "a comment")));
  EXPECT_FALSE(Passes(head, WithComment(zip, "a comment") + "x"));
  EXPECT_FALSE(Passes(head, zip + "appended"));
  // A comment length pointing past the end still reaches it.
  EXPECT_TRUE(Passes(head, WithComment(zip, "abc").substr(0, zip.size() + 1)));
}

TEST_F(PackIntegrity, ShortArchivesFailAndRsfPasses) {
  const std::string head(100, 'h');
  const std::string empty = CraftZip({});
  ASSERT_EQ(empty.size(), 22u);
  EXPECT_FALSE(Passes(head, empty));
  EXPECT_TRUE(Passes(head, std::string(19, 'z') + "RSF!"));
  EXPECT_FALSE(Passes(head, std::string(15, 'z') + "RSF!"));  // 19 bytes: too short first
  EXPECT_FALSE(Passes(head, std::string(30, 'z') + "RSX!"));
  // A text length pointing past the end of the file: the stub calls the
  // package corrupted before it looks at the end.
  vantrel_pack::PackageTexts texts;
  texts.welcomeText = std::string(500, 'w');
  std::vector<uint8_t> header = vantrel_pack::EncodePackageHeader({}, texts);
  WriteFile(dir / "cut.exe",
            std::string(kStubBytes, 'M') + std::string(header.begin(), header.end() - 400));
  EXPECT_TRUE(vantrel_pack::ReadPackage((dir / "cut.exe").string()).textPastEnd);
}

TEST_F(PackIntegrity, TheSearchStaysWithinTheArchivePart) {
  std::string zip = CraftZip({{"a.txt", "alpha"}});
  EXPECT_TRUE(Passes("h", WithComment(zip, std::string(65535, 'c'))));
  // An end record in the texts before the archive is not looked at, even
  // when its comment length would reach the end of the file.
  std::string fake = CraftZip({});
  fake[fake.size() - 2] = 60;
  EXPECT_TRUE(Passes("", fake + std::string(60, 'j')));
  EXPECT_FALSE(Passes(fake, std::string(60, 'j')));
}

TEST(PackWalk, DescriptorsAreSkippedAndTheCentralDirectoryEndsTheWalk) {
  CraftedMember first{"a.txt", "alpha"};
  first.flags = 8;
  first.descriptor = true;
  std::string zip = CraftZip({first, {"b.txt", "beta"}});
  // A second descriptor in a row after the first member.
  size_t second = zip.find("PK\x03\x04", 4);
  std::string descriptor = zip.substr(second - 16, 16);
  zip.insert(second, descriptor);
  ArchiveWalk walk = WalkArchive(MemorySource(zip), 0);
  ASSERT_EQ(walk.members.size(), 2u);
  EXPECT_EQ(walk.descriptorsSkipped, 2);
  EXPECT_EQ(walk.members[1].name, "b.txt");
  EXPECT_EQ(walk.members[1].offset, second + 16);
  EXPECT_TRUE(walk.endedNormally());
  EXPECT_EQ(walk.endSignature, 0x02014B50u);
  EXPECT_TRUE(Texts(walk).empty());
}

TEST(PackWalk, OddSignatureNulNamesAndExtraFields) {
  CraftedMember odd{"odd.txt", "odd"};
  odd.signature = 0x50000000;
  CraftedMember cut{std::string("abc\0defghi", 10), "cut"};
  CraftedMember extra{"extra.txt", "with extra"};
  extra.extra = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);
  ArchiveWalk walk = WalkArchive(MemorySource(CraftZip({odd, cut, extra, {"z", "z"}})), 0);
  ASSERT_EQ(walk.members.size(), 4u);
  EXPECT_EQ(walk.members[0].name, "odd.txt");
  EXPECT_EQ(walk.members[1].name, "abc");
  EXPECT_EQ(walk.members[1].nameLength, 10);
  EXPECT_EQ(walk.members[2].extraLength, 9);
  EXPECT_EQ(walk.members[3].name, "z");
  EXPECT_TRUE(Texts(walk).empty());
}

TEST(PackWalk, NamesLeavingTheFolderAreFlagged) {
  for (const char *name : {"../x", "a/../../x", "a\\..\\x", "..", "/etc/x", "\\x",
                           "\\\\server\\share\\x", "C:x", "c:\\x",
                           // Refused by the stub too: dot-only components, devices, streams.
                           "sub/.../evil.txt", "x/...", "x/./y", "CON", "dir/aux.txt",
                           "a.txt:stream", "CONIN$", "x/clock$.txt", "lpt0", "COM\xB9.log"}) {
    ArchiveWalk walk = WalkArchive(MemorySource(CraftZip({{name, "d"}})), 0);
    EXPECT_TRUE(Mentions(Texts(walk), "outside")) << name;
  }
  for (const char *name : {"a..b", "..a/x", "dir/", "a/b\\c", "console.txt", "com10"}) {
    ArchiveWalk walk = WalkArchive(MemorySource(CraftZip({{name, "d"}})), 0);
    EXPECT_TRUE(Texts(walk).empty()) << name;
  }
}

TEST(PackWalk, WhatTheStubCannotHandleIsNamed) {
  CraftedMember noSizes = SizesOnlyInDescriptor("late.bin", "sizes only in the descriptor");
  CraftedMember emptyWithDescriptor = SizesOnlyInDescriptor("empty.bin", "");
  CraftedMember method{"m.bin", "x"};
  method.method = 12;
  CraftedMember shortEncrypted{"e.bin", "tiny"};
  shortEncrypted.flags = 1;
  CraftedMember longName{std::string(259, 'n'), "x"};
  CraftedMember noData{"nodata.bin", ""};
  noData.method = 8;
  CraftedMember deepName{std::string(233, 'd') + "/x.txt", "x"};
  CraftedMember longishName{std::string(200, 'l'), "x"};
  std::vector<std::string> texts = Texts(WalkArchive(
      MemorySource(CraftZip(
          {emptyWithDescriptor, {"", "no name"}, method, shortEncrypted, longName, noData,
           deepName, longishName, noSizes})),
      0));
  EXPECT_FALSE(Mentions(texts, "empty.bin")) << "a true empty member is fine";
  EXPECT_TRUE(Mentions(texts, "member 2 \"\": empty name"));
  EXPECT_TRUE(Mentions(texts, "\"m.bin\": compression method 12"));
  EXPECT_TRUE(Mentions(texts, "\"e.bin\": encrypted member shorter"));
  EXPECT_TRUE(Mentions(texts, "longer than 258"));
  EXPECT_TRUE(Mentions(texts, "\"nodata.bin\": deflated member without data"));
  EXPECT_TRUE(Mentions(texts, "ddd/x.txt\": name too long for any temporary folder"));
  EXPECT_TRUE(Mentions(texts, "lll\": name too long for a typical temporary folder"));
  EXPECT_TRUE(Mentions(texts, "\"late.bin\": the local header has no compressed size"));
  EXPECT_TRUE(Mentions(texts, "\"late.bin\": the local header has no CRC"));
  EXPECT_FALSE(Mentions(texts, "\"empty.bin\": the local header has no CRC"));
  EXPECT_TRUE(Mentions(texts, "unknown record"));  // the walk derails after it
}

TEST(PackWalk, SizesWithoutCrcAreFlagged) {
  CraftedMember crcLater{"crc.bin", "data whose CRC is not zero"};
  crcLater.flags = 8;
  crcLater.descriptor = true;
  std::string zip = CraftZip({crcLater});
  zip.replace(14, 4, std::string(4, '\0'));  // the local header's CRC field
  std::vector<std::string> texts = Texts(WalkArchive(MemorySource(zip), 0));
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("\"crc.bin\": the local header has no CRC"), std::string::npos);
}

TEST(PackWalk, MoreThan255FilesCannotAllBeCleanedUp) {
  std::vector<CraftedMember> members;
  for (int i = 0; i < 255; ++i) members.push_back({"f" + std::to_string(i), "x"});
  members.push_back({"folder/", ""});
  EXPECT_TRUE(Texts(WalkArchive(MemorySource(CraftZip(members)), 0)).empty());
  members.push_back({"one-more", "x"});
  auto problems = WalkWarnings(WalkArchive(MemorySource(CraftZip(members)), 0));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].text.find("256 files"), std::string::npos) << problems[0].text;
  EXPECT_FALSE(problems[0].stopsInstallation);
}

TEST_F(PackTest, InspectReportsAHeaderCutShortAndRefusesNonPackages) {
  std::string image = ReadFile(stub);
  WriteFile(dir / "cut.exe", image + std::string("ZEP\0\x05\x09", 6));
  ASSERT_EQ(Run({"inspect", (dir / "cut.exe").string()}), 0) << err.str();
  EXPECT_NE(out.str().find("ends inside the header"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("failed"), std::string::npos) << out.str();
  auto view = vantrel_pack::ReadPackage((dir / "cut.exe").string());
  EXPECT_TRUE(view.cutShort);
  EXPECT_EQ(view.header.totalSize, 0);
  EXPECT_EQ(view.texts.title, "");
  WriteFile(dir / "plain.exe", image + "no header here");
  EXPECT_EQ(Run({"inspect", (dir / "plain.exe").string()}), 1);
  EXPECT_NE(err.str().find("no package header"), std::string::npos) << err.str();
  EXPECT_EQ(Run({"inspect", (dir / "missing.exe").string()}), 1);
}

TEST_F(PackTest, InspectWarnsAboutAStoredPassword) {
  ASSERT_EQ(Create(dir / "out.exe", {}), 0) << err.str();
  // Rewrite the package with a stored password, as another packager might.
  auto view = vantrel_pack::ReadPackage((dir / "out.exe").string());
  std::string file = ReadFile(dir / "out.exe");
  vantrel_pack::PackageTexts texts = view.texts;
  texts.storedPassword = "visible";
  std::vector<uint8_t> head = vantrel_pack::EncodePackageHeader(view.header, texts);
  std::string rebuilt = file.substr(0, kStubBytes) + std::string(head.begin(), head.end()) +
                        file.substr(size_t(view.archiveBase));
  WriteFile(dir / "pw.exe", rebuilt);
  ASSERT_EQ(Run({"inspect", "--json", (dir / "pw.exe").string()}), 0);
  EXPECT_NE(out.str().find("\"storedPassword\": \"visible\""), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("anyone can read"), std::string::npos);
}


// inspect reports what the stub's own loader makes of a header the packer
// would never write: lengths the stub ignores and a split package whose
// total size leaves the rebuilt file empty.
TEST_F(PackTest, InspectAgreesWithTheStubsLoader) {
  using testing_support::BuildPackage;
  using testing_support::BuildZip;
  using testing_support::PackageContents;
  struct Case {
    const char *what;
    PackageContents contents;
    size_t members;
    const char *warning;  // nullptr: none
  };
  PackageContents base;
  base.archive = BuildZip({{"setup.inf", testing_support::ToBytes(kEmptyInf)}});
  PackageContents negative = base, lowest = base, emptySplit = base;
  negative.welcomeLength = -5;
  lowest.licenceLength = INT32_MIN;
  emptySplit.multiPart = true;
  emptySplit.totalSize = 0;
  for (const Case &c : {Case{"welcome length -5", negative, 1, nullptr},
                        Case{"licence length -2^31", lowest, 1, nullptr},
                        Case{"split with total size 0", emptySplit, 0, "no local header"}}) {
    testing_support::Bytes bytes = BuildPackage(c.contents);
    WriteFile(dir / "odd.exe", std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(Run({"inspect", "--json", (dir / "odd.exe").string()}), 0) << c.what << err.str();
    const std::string report = out.str();
    EXPECT_NE(report.find("\"archiveBase\": " + std::to_string(kStubBytes + 25 + 9)),
              std::string::npos)
        << c.what << report;
    size_t members = 0;
    for (size_t at = report.find("\"offset\": "); at != std::string::npos;
         at = report.find("\"offset\": ", at + 1)) {
      ++members;
    }
    EXPECT_EQ(members, c.members + 1) << c.what << report;  // and the walk's end
    if (c.warning) {
      EXPECT_NE(report.find(c.warning), std::string::npos) << c.what << report;
    } else {
      EXPECT_NE(report.find("\"warnings\": []"), std::string::npos) << c.what << report;
    }
  }
}

}  // namespace
}  // namespace pack_test
