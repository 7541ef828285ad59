// Damaged and hostile archives: names that lead elsewhere, folders and files
// that cannot be made, data the package does not hold. Each must fail as a
// failure, and nothing may appear outside the temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "extract_fixture.h"
#include "inflate_harness.h"

using namespace testing_support;

namespace {

class Hostile : public Extraction {
 protected:
  // Every path in the scratch tree that is neither the package nor part of
  // the machine set up before the walk.
  std::vector<std::string> NewPaths(const std::vector<std::string> &before) const {
    std::vector<std::string> out;
    for (const auto &p : Tree()) {
      if (std::find(before.begin(), before.end(), p) == before.end()) out.push_back(p);
    }
    return out;
  }
  bool OnlyBox(const std::string &caption, const std::string &text) const {
    return Boxes() == std::vector<std::string>{caption + ": " + text};
  }
};

TEST_F(Hostile, NameLongerThanTheNameBufferIsRefused) {
  Load(BuildZip({{std::string(259, 'n'), ToBytes("x")}}));
  auto before = Tree();
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_TRUE(OnlyBox("Error", "Invalid filename."));
  EXPECT_TRUE(NewPaths(before).empty());
}

TEST_F(Hostile, LongNameCutByANulInsideTheBufferIsStillRefusedWhenTooLong) {
  // The length field decides: 300 bytes do not fit the buffer even though
  // the text ends at the third.
  Load(BuildZip({{std::string("abc") + std::string(297, '\0'), ToBytes("x")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_TRUE(OnlyBox("Error", "Invalid filename."));
}

TEST_F(Hostile, EmptyNameIsRefused) {
  Load(BuildZip({{"a.txt", ToBytes("a")}, {std::string("\0zz", 3), ToBytes("x")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_TRUE(OnlyBox("Error", "Invalid filename."));
  // What was extracted before stays, and stays recorded.
  EXPECT_EQ((std::vector<std::string>{OutWindows("a.txt")}), Recorded());
}

class EscapingName : public Hostile, public ::testing::WithParamInterface<const char *> {};

TEST_P(EscapingName, IsRefusedAndNothingIsWritten) {
  MakeFolder("temp/$Vantrel.Tmp/sub");
  Load(BuildZip({{GetParam(), ToBytes("escaped")}, {"after.txt", ToBytes("x")}}));
  auto before = Tree();
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_TRUE(OnlyBox("Error", "Invalid filename.")) << GetParam();
  EXPECT_TRUE(NewPaths(before).empty()) << GetParam();
  EXPECT_EQ(0, state.extractedCount);
}

INSTANTIATE_TEST_SUITE_P(Names, EscapingName,
                         ::testing::Values("../evil.txt", "..\\evil.txt", "sub/../../evil.txt",
                                           "sub\\..\\..\\..\\evil.txt", "..", "sub/..", "/evil.txt",
                                           "\\evil.txt", "//server/share/evil.txt",
                                           "\\\\server\\share\\evil.txt", "C:evil.txt",
                                           "C:\\evil.txt", "c:/evil.txt", "Z:/tmp/evil.txt",
                                           "a:b/c.txt", "sub/x:y", "sub/.../evil.txt",
                                           "sub/. ./evil.txt", "./a.txt", "sub/./a.txt", "CON",
                                           "sub/nul.txt", "Aux.log", "lpt1", "COM9.txt", "prn ",
                                           "CONIN$", "sub/conout$.txt", "Clock$", "COM0",
                                           "lpt0.log", "COM\xB9", "sub/lpt\xB2.txt",
                                           "com\xB3 .txt"));

TEST_F(Hostile, NamesThatMerelyLookLikeThoseAreAccepted) {
  Load(BuildZip({{"..a", ToBytes("1")},
                 {"a..", ToBytes("2")},
                 {"con1.txt", ToBytes("3")},
                 {"sub/.hidden", ToBytes("4")},
                 {"com10", ToBytes("5")},
                 {"conin", ToBytes("6")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("1"), ReadFile(Out("..a")));
  EXPECT_EQ(ToBytes("2"), ReadFile(Out("a..")));
  EXPECT_EQ(ToBytes("3"), ReadFile(Out("con1.txt")));
  EXPECT_EQ(ToBytes("4"), ReadFile(Out("sub/.hidden")));
  EXPECT_EQ(ToBytes("5"), ReadFile(Out("com10")));
  EXPECT_EQ(ToBytes("6"), ReadFile(Out("conin")));
}

TEST_F(Hostile, FullPathThatFillsAWindowsPathExactlyIsExtracted) {
  // 20 characters of folder, a backslash and 238 of name: 259 in all, the
  // longest path CreateFileA takes (MAX_PATH counts the NUL).
  std::string name(238, 'p');
  Load(BuildZip({{name, ToBytes("fits")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("fits"), ReadFile(Out(name)));
  EXPECT_EQ(259u, state.extractedFiles[0].length);
}

// A file path of 260 characters, and a folder path of 248 (more than
// CreateDirectoryA takes: on Windows the program would end on a fatal error
// in the middle of the archive).
class TooLongForWindows : public Hostile, public ::testing::WithParamInterface<std::string> {};

TEST_P(TooLongForWindows, IsRefusedBeforeAnythingIsWritten) {
  Load(BuildZip({{"first.txt", ToBytes("1")}, {GetParam(), ToBytes("too long")}}));
  auto before = Tree();
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_TRUE(OnlyBox("Error", "Invalid filename."));
  EXPECT_EQ((std::vector<std::string>{kTempRelative, Out("first.txt")}), NewPaths(before));
}

INSTANTIATE_TEST_SUITE_P(Paths, TooLongForWindows,
                         ::testing::Values(std::string(239, 'p'),
                                           std::string(227, 'f') + "/" + std::string(5, 'n')),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                           return info.param.find('/') == std::string::npos ? "File" : "Folder";
                         });

TEST_F(Hostile, FullPathLongerThanAWindowsPathIsRefusedNotCut) {
  std::string name = std::string(120, 'q') + "/" + std::string(119, 'r') + "X";  // 241
  Load(BuildZip({{name, ToBytes("too long")}}));
  auto before = Tree();
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_TRUE(OnlyBox("Error", "Invalid filename."));
  EXPECT_TRUE(NewPaths(before).empty());
}

TEST_F(Hostile, FolderEntriesMakeTheirFolderAndTheWalkGoesOn) {
  Load(BuildZip({{"docs/", {}},
                 {"docs/read.me", ToBytes("r")},
                 {"empty\\", {}},
                 {"deep/er/", {}},
                 {"z.txt", ToBytes("z")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(ToBytes("r"), ReadFile(Out("docs/read.me")));
  EXPECT_TRUE(std::filesystem::is_directory(Posix(Out("empty"))));
  EXPECT_TRUE(std::filesystem::is_directory(Posix(Out("deep/er"))));
  EXPECT_EQ(ToBytes("z"), ReadFile(Out("z.txt")));
  // Folders are not recorded: the clean-up deletes files only.
  EXPECT_EQ((std::vector<std::string>{OutWindows("docs\\read.me"), OutWindows("z.txt")}),
            Recorded());
}

TEST_F(Hostile, FolderEntryAsTheOnlyMemberSucceeds) {
  Load(BuildZip({{"only/", {}}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_TRUE(std::filesystem::is_directory(Posix(Out("only"))));
}

TEST_F(Hostile, FolderEntryOnAnExistingFileFailsWithErrorInDirectory) {
  Load(BuildZip({{"f", ToBytes("file")}, {"f/", {}}, {"never.txt", ToBytes("n")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error in directory ..: " + OutWindows("f"),
                                      "Error: Error extracting file(s)."}),
            Boxes());
  EXPECT_EQ("Error extracting file(s).", StatusLines().back());
  EXPECT_FALSE(Exists(Out("never.txt")));
}

TEST_F(Hostile, FileUnderAnExistingFileFailsTheWalk) {
  Load(BuildZip({{"f", ToBytes("file")}, {"f/g.txt", ToBytes("g")}, {"never.txt", ToBytes("n")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
  EXPECT_FALSE(Exists(Out("never.txt")));
}

TEST_F(Hostile, OutputPathThatIsAFolderFailsTheWalkWithoutCannotOpen) {
  Load(BuildZip({{"d/x.txt", ToBytes("x")},
                 {"d", ToBytes("file on a folder")},
                 {"never.txt", ToBytes("n")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
  EXPECT_FALSE(Exists(Out("never.txt")));
  EXPECT_EQ((std::vector<std::string>{OutWindows("d\\x.txt")}), Recorded());
}

TEST_F(Hostile, OutputFileThatCannotBeOpenedIsReportedAndFailsTheWalk) {
  // The host's files accept a name Windows would not, so an existing file
  // whose name CreateFileA refuses stands for a file that cannot be opened.
  WriteFile(Out("a|b"), "existing");
  Load(BuildZip({{"a|b", ToBytes("new")}, {"never.txt", ToBytes("n")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Cannot open file ..: " + OutWindows("a|b"),
                                      "Error: Error extracting file(s)."}),
            Boxes());
  EXPECT_FALSE(Exists(Out("never.txt")));
}

TEST_F(Hostile, FolderThatCannotBeCreatedIsFatal) {
  MakeFolder(kTempRelative);
  Load(BuildZip({{"a.txt", ToBytes("a")}, {"new/b.txt", ToBytes("b")}}));
  host::FailCall("CreateDirectoryA", 5);
  ASSERT_EQ(5, Extract());
  ASSERT_EQ(1u, host::MessageBoxes().size());
  EXPECT_EQ("Error", host::MessageBoxes()[0].caption);
  EXPECT_EQ(0u, host::MessageBoxes()[0].text.find("Runtime error 5 at "));
  EXPECT_EQ(ToBytes("a"), ReadFile(Out("a.txt")));
}

TEST_F(Hostile, PackageEndingInsideStoredDataFailsTheMember) {
  Bytes data(5000, 'd');
  Bytes zip = BuildZip({{"cut.bin", data}});
  zip.resize(30 + 7 + 1000);
  Load(zip, /*skipCheck=*/true);
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
  EXPECT_EQ(Bytes(1000, 'd'), ReadFile(Out("cut.bin")));
}

TEST_F(Hostile, PackageEndingInsideStoredDataFailsEvenWhenTheCrcMatchesWhatIsThere) {
  // The header's CRC is that of the bytes the package does hold.
  Bytes held(700, 'h');
  ZipMember m{"cut.bin", held};
  m.rawData = Bytes(held);
  m.rawData->resize(4000, 'h');
  m.crc = Crc32(held);
  Bytes zip = BuildZip({m});
  zip.resize(30 + 7 + 700);
  Load(zip, /*skipCheck=*/true);
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
}

TEST_F(Hostile, PackageEndingInsideDeflatedDataFails) {
  Bytes data(20000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t((i * i) >> 3);
  Bytes zip = BuildZip({{"cut.bin", data, 8}});
  zip.resize(30 + 7 + 300);
  Load(zip, /*skipCheck=*/true);
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
}

TEST_F(Hostile, PackageEndingInsideALocalHeaderIsNotAMember) {
  Bytes zip = BuildZip({{"a.txt", ToBytes("a")}, {"b.txt", ToBytes("b")}});
  zip.resize(30 + 5 + 1 + 20);
  Load(zip, /*skipCheck=*/true);
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Invalid filename."}), Boxes());
  EXPECT_EQ(ToBytes("a"), ReadFile(Out("a.txt")));
}

TEST_F(Hostile, SizeBeyondAnyFilePositionEndsTheWalkAsFailure) {
  // A stored member claiming 3 GiB of data: the copy finds the end of the
  // package, and no seek may wrap round to an earlier header.
  ZipMember m{"huge.bin", {}};
  m.rawData = Bytes();
  Bytes zip = BuildZip({m});
  zip[18] = 0x00, zip[19] = 0x00, zip[20] = 0x00, zip[21] = 0xC0;  // compressed size
  zip[14] = zip[15] = zip[16] = zip[17] = 0;                       // CRC of nothing
  Load(zip, /*skipCheck=*/true);
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
}

// A member as a streaming writer leaves it: bit 3, and CRC and sizes only in
// the descriptor after the data; the local header holds zeros.
Bytes Streamed(const ZipMember &m) {
  ZipMember d = m;
  d.descriptor = true;
  Bytes zip = BuildZip({d, {"after.txt", ToBytes("after")}});
  for (int i = 14; i < 26; ++i) zip[i] = 0;
  return zip;
}

TEST_F(Hostile, StreamedDeflatedMemberWithoutSizesFails) {
  Load(Streamed({"s.txt", ToBytes(std::string(3000, 's')), 8}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
  EXPECT_FALSE(Exists(Out("after.txt")));
}

TEST_F(Hostile, StreamedStoredMemberWithoutSizesFails) {
  // Read as an empty member whose CRC (0) matches; what follows is its data,
  // not a record, and the walk must not call that the end of the archive.
  Load(Streamed({"s.txt", ToBytes("stored data that the header does not announce")}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
  EXPECT_EQ("Error extracting file(s).", StatusLines().back());
}

TEST_F(Hostile, DeflatedMemberWithoutDataFails) {
  ZipMember m{"d.txt", {}, 8};
  m.rawData = Bytes();
  m.crc = 0;
  Load(BuildZip({m}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
}

TEST_F(Hostile, GarbageWhereTheNextRecordShouldBeFails) {
  ZipMember shortSized{"a.txt", ToBytes("abcdef")};
  Bytes zip = BuildZip({shortSized, {"b.txt", ToBytes("b")}});
  zip[18] = 3;  // compressed size 3 of 6: the walk lands on "def"
  Load(zip);
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_FALSE(Exists(Out("b.txt")));
}

TEST_F(Hostile, WalkEndingAtTheEndRecordOrTheFileEndIsClean) {
  // Members, then straight the end record: no central directory at all.
  Bytes zip = BuildZip({{"a.txt", ToBytes("a")}});
  Bytes end = {0x50, 0x4B, 0x05, 0x06};
  end.resize(22, 0);
  zip.resize(30 + 5 + 1);
  zip.insert(zip.end(), end.begin(), end.end());
  Load(zip);
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Hostile, NothingIsEverWrittenThroughAnAbsoluteTempFolderEscape) {
  // Names of every refused kind in one archive after a good member.
  Load(BuildZip({{"ok.txt", ToBytes("ok")}, {"../../../../escape.txt", ToBytes("x")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  for (const auto &p : Tree()) EXPECT_EQ(std::string::npos, p.find("escape")) << p;
}


// Streams the decoder refuses. Each decodes nothing before its fault, so
// its output (none) matches a stored CRC of 0: the decoder's verdict must
// reach the walk, not only the CRC.
struct BadStream {
  const char *fault;
  Bytes (*write)();
};

Bytes StoredLengthWithoutComplement() {
  inflate_test::BitWriter w;
  w.Bits(1, 1);
  w.Bits(0, 2);
  w.AlignToByte();
  w.Bits(3, 16);
  w.Bits(0xFFFD, 16);
  for (char c : {'a', 'b', 'c'}) w.Byte(uint8_t(c));
  return w.Finish();
}

// The header of a last block of the fixed codes.
void LastFixedBlock(inflate_test::BitWriter &w) {
  w.Bits(1, 1);
  w.Bits(1, 2);
}

Bytes LiteralLength286() {
  inflate_test::BitWriter w;
  LastFixedBlock(w);
  inflate_test::FixedLiteral(w, 286);
  inflate_test::FixedLiteral(w, 256);
  return w.Finish();
}

Bytes DistanceBeforeTheStart() {
  inflate_test::BitWriter w;
  LastFixedBlock(w);
  inflate_test::FixedLength(w, 3);
  inflate_test::FixedDistance(w, 1);
  inflate_test::FixedLiteral(w, 256);
  return w.Finish();
}

Bytes OversubscribedCode() {
  std::vector<int> literals(257, 0);
  literals[0] = literals[1] = literals[256] = 1;
  inflate_test::BitWriter w;
  inflate_test::WriteDynamicHeader(w, true, literals, {1});
  return w.Finish();
}

void PrintTo(const BadStream &b, std::ostream *out) { *out << b.fault; }

class RefusedStream : public Hostile, public ::testing::WithParamInterface<BadStream> {};

TEST_P(RefusedStream, FailsTheMemberEvenWhenItsCrcMatches) {
  ZipMember m{"x.bin", {}, 8};
  m.rawData = GetParam().write();
  m.crc = 0;
  Load(BuildZip({m, {"after.txt", ToBytes("after")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk) << GetParam().fault;
  EXPECT_TRUE(OnlyBox("Error", "Error extracting file(s).")) << GetParam().fault;
  EXPECT_FALSE(Exists(Out("after.txt")));
}

INSTANTIATE_TEST_SUITE_P(Faults, RefusedStream,
                         ::testing::Values(BadStream{"stored length", StoredLengthWithoutComplement},
                                           BadStream{"code 286", LiteralLength286},
                                           BadStream{"distance", DistanceBeforeTheStart},
                                           BadStream{"oversubscribed", OversubscribedCode}));

class DeclaredSize : public Hostile, public ::testing::WithParamInterface<int> {};

TEST_P(DeclaredSize, OutputOfAnotherSizeFails) {
  // Right data and CRC, wrong size in the header: the archive is damaged.
  ZipMember m{"a.txt", ToBytes("hello world"), GetParam()};
  m.uncompressedSize = 12;
  Load(BuildZip({m}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_TRUE(OnlyBox("Error", "Error extracting file(s)."));
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, DeclaredSize, ::testing::Values(0, 8));

TEST_F(Hostile, DecodingStopsOnceTheOutputPassesTheDeclaredSize) {
  // Eight MiB of zeros deflate to a few KiB; the header admits 1,000 bytes.
  ZipMember bomb{"bomb.bin", Bytes(8 << 20, 0), 8};
  bomb.uncompressedSize = 1000;
  Load(BuildZip({bomb}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_LE(ReadFile(Out("bomb.bin")).size(), 1000u);
}

TEST_F(Hostile, StreamedMemberWithoutADeclaredSizeStillExtracts) {
  // With a data descriptor the local header may leave the size at 0: only
  // the CRC and the stream's own end judge the member then.
  ZipMember m{"s.txt", ToBytes("streamed text"), 8};
  m.descriptor = true;
  m.uncompressedSize = 0;
  Load(BuildZip({m}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("streamed text"), ReadFile(Out("s.txt")));
}

}  // namespace
