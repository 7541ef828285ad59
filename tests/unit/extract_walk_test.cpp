// The archive walk: records, names, methods, the CRC test and the list of
// extracted files, on archives built byte by byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include "extract_fixture.h"
#include "support/zlib_codec.h"

using namespace testing_support;

namespace {

Bytes Pattern(size_t n, unsigned seed = 1) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = uint8_t((i * 131 + seed * 7 + (i >> 7)) & 0xFF);
  return out;
}

// Inserts `count` extra data descriptors right after the first member's own.
Bytes WithMoreDescriptors(Bytes zip, const ZipMember &first, int count) {
  size_t at = 30 + first.name.size() + first.extra.size() + first.data.size() + 16;
  Bytes descriptor = {0x50, 0x4B, 0x07, 0x08};
  descriptor.resize(16, 0xEE);
  for (int i = 0; i < count; ++i)
    zip.insert(zip.begin() + long(at), descriptor.begin(), descriptor.end());
  return zip;
}

// Local headers and data only: the archive simply stops after the last member.
Bytes WithoutCentralDirectory(const std::vector<ZipMember> &members) {
  Bytes zip = BuildZip(members);
  size_t end = 0;
  for (const ZipMember &m : members) {
    end += 30 + m.name.size() + m.extra.size() +
           (m.rawData       ? m.rawData->size()
            : m.method == 8 ? RawDeflate(m.data).size()
                            : m.data.size()) +
           (m.descriptor ? (m.descriptorSigned ? 16 : 12) : 0);
  }
  zip.resize(end);
  return zip;
}

using Walk = Extraction;

TEST_F(Walk, StoredAndDeflatedMembersArriveExactly) {
  Bytes text = ToBytes("[Version]\r\nSignature=\"$Chicago$\"\r\n");
  Bytes big = Pattern(100000);
  Bytes empty;
  Load(BuildZip(
      {{"setup.inf", text}, {"data.bin", big, 8}, {"empty.txt", empty}, {"big.raw", big}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(text, ReadFile(Out("setup.inf")));
  EXPECT_EQ(big, ReadFile(Out("data.bin")));
  EXPECT_TRUE(Exists(Out("empty.txt")));
  EXPECT_EQ(empty, ReadFile(Out("empty.txt")));
  EXPECT_EQ(big, ReadFile(Out("big.raw")));
  EXPECT_EQ((std::vector<std::string>{OutWindows("setup.inf"), OutWindows("data.bin"),
                                      OutWindows("empty.txt"), OutWindows("big.raw")}),
            Recorded());
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(0, state.ioError);
}

TEST_F(Walk, StatusLineNamesTheFullPath) {
  Load(BuildZip({{"a.txt", ToBytes("A")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_EQ((std::vector<std::string>{"\r\n  Extracting: " + kTempWindows + "\\a.txt"}),
            StatusLines());
  EXPECT_GE(host::PumpCalls(), 1);
}

TEST_F(Walk, OneDataDescriptorIsSkipped) {
  ZipMember first{"one.txt", ToBytes("first member")};
  first.descriptor = true;
  Load(BuildZip({first, {"two.txt", ToBytes("second")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("first member"), ReadFile(Out("one.txt")));
  EXPECT_EQ(ToBytes("second"), ReadFile(Out("two.txt")));
}

TEST_F(Walk, SeveralDataDescriptorsInARowAreSkipped) {
  ZipMember first{"one.txt", ToBytes("first member")};
  first.descriptor = true;
  Load(WithMoreDescriptors(BuildZip({first, {"two.txt", ToBytes("second")}}), first, 5));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("second"), ReadFile(Out("two.txt")));
}

TEST_F(Walk, AHundredThousandDescriptorsDoNotExhaustTheStack) {
  ZipMember first{"one.txt", ToBytes("x")};
  first.descriptor = true;
  Load(WithMoreDescriptors(BuildZip({first, {"two.txt", ToBytes("y")}}), first, 100000));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("y"), ReadFile(Out("two.txt")));
}

// The short descriptor, without its signature, after a bit-3 member: after
// the last member, before another, with a CRC-32 that equals the
// signature, and without a central directory after it. It must repeat the
// header's CRC-32 and size, and what follows it tells its form.
struct ShortDescriptor {
  const char *what;
  std::vector<ZipMember> members;  // the first has the short descriptor
  bool centralDirectory;
  bool extracts;
};

ZipMember ShortDescribed(const std::string &name, const std::string &data, int method = 0) {
  ZipMember m{name, ToBytes(data), method};
  m.descriptor = true;
  m.descriptorSigned = false;
  return m;
}

// 21 bytes and four more chosen so that their CRC-32 is 0x08074B50, the
// descriptor's signature.
const std::string kCrcLikeTheSignature = std::string("crc like a signature \xD2\xA8\x2C\x07", 25);

class ShortDescriptorWalk : public Extraction,
                            public ::testing::WithParamInterface<ShortDescriptor> {};

TEST_P(ShortDescriptorWalk, IsSteppedOverWhenARecordFollowsIt) {
  const ShortDescriptor &c = GetParam();
  ASSERT_EQ(0x08074B50u, Crc32(ToBytes(kCrcLikeTheSignature)));
  if (c.centralDirectory) {
    Load(BuildZip(c.members));
  } else {
    Load(WithoutCentralDirectory(c.members), /*skipCheck=*/true);
  }
  ASSERT_EQ(-1, Extract());
  EXPECT_EQ(c.extracts, bool(state.extractOk));
  if (!c.extracts) return;
  for (const ZipMember &m : c.members) EXPECT_EQ(m.data, ReadFile(Out(m.name))) << m.name;
  EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ShortDescriptorWalk,
    ::testing::Values(
        ShortDescriptor{"last", {{"a.txt", ToBytes("a")}, ShortDescribed("b.txt", "last one")},
                        true, true},
        ShortDescriptor{"first", {ShortDescribed("a.txt", "first", 8), {"b.txt", ToBytes("b")}},
                        true, true},
        ShortDescriptor{"crc_equals_signature",
                        {ShortDescribed("a.txt", kCrcLikeTheSignature), {"b.txt", ToBytes("b")}},
                        true, true},
        ShortDescriptor{"crc_equals_signature_last",
                        {ShortDescribed("a.txt", kCrcLikeTheSignature)}, true, true},
        ShortDescriptor{"no_central_directory", {ShortDescribed("a.txt", "only")}, false, true}),
    [](const ::testing::TestParamInfo<ShortDescriptor> &info) { return info.param.what; });

TEST_F(Walk, TwelveBytesThatDoNotRepeatTheHeaderAreNoDescriptor) {
  Bytes zip = BuildZip({ShortDescribed("a.txt", "first"), {"b.txt", ToBytes("b")}});
  zip[30 + 5 + 5] ^= 1;  // the descriptor's CRC-32, after the header, name and data
  Load(zip);
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_FALSE(Exists(Out("b.txt")));
}

TEST_F(Walk, SignatureZeroZeroZeroFiftyIsALocalHeader) {
  ZipMember odd{"odd.txt", ToBytes("odd signature")};
  odd.signature = 0x50000000;
  Load(BuildZip({{"a.txt", ToBytes("a")}, odd}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("odd signature"), ReadFile(Out("odd.txt")));
}

TEST_F(Walk, CentralDirectoryEndsTheWalk) {
  Load(BuildZip({{"a.txt", ToBytes("a")}, {"b.txt", ToBytes("b")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{kTempRelative, Out("a.txt"), Out("b.txt")}), [&] {
    std::vector<std::string> t;
    for (auto &p : Tree())
      if (p.rfind("temp/", 0) == 0) t.push_back(p);
    return t;
  }());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Walk, EndOfFileEndsTheWalk) {
  std::vector<ZipMember> members = {{"a.txt", ToBytes("aaa")}, {"b.txt", ToBytes("bb"), 8}};
  Load(WithoutCentralDirectory(members), /*skipCheck=*/true);
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("aaa"), ReadFile(Out("a.txt")));
  EXPECT_EQ(ToBytes("bb"), ReadFile(Out("b.txt")));
}

TEST_F(Walk, NameIsCutAtItsFirstNul) {
  ZipMember cut{std::string("abc\0defghi", 10), ToBytes("cut name")};
  Load(BuildZip({cut, {"next.txt", ToBytes("next")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("cut name"), ReadFile(Out("abc")));
  EXPECT_EQ(ToBytes("next"), ReadFile(Out("next.txt")));
  EXPECT_EQ(OutWindows("abc"), Recorded()[0]);
}

TEST_F(Walk, ExtraFieldIsSkipped) {
  ZipMember withExtra{"x.txt", ToBytes("after the extra field")};
  withExtra.extra = Bytes(37, 0x55);
  ZipMember deflated{"y.txt", Pattern(5000, 3), 8};
  deflated.extra = {0x55, 0x54, 0x05, 0x00, 0x03, 1, 2, 3, 4};
  Load(BuildZip({withExtra, deflated, {"z.txt", ToBytes("z")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("after the extra field"), ReadFile(Out("x.txt")));
  EXPECT_EQ(Pattern(5000, 3), ReadFile(Out("y.txt")));
  EXPECT_EQ(ToBytes("z"), ReadFile(Out("z.txt")));
}

TEST_F(Walk, BothSeparatorsMakeFoldersAndBackslashPaths) {
  Load(BuildZip({{"d1/d2/a.txt", ToBytes("slash")}, {"e1\\e2\\b.txt", ToBytes("backslash")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("slash"), ReadFile(Out("d1/d2/a.txt")));
  EXPECT_EQ(ToBytes("backslash"), ReadFile(Out("e1/e2/b.txt")));
  EXPECT_EQ((std::vector<std::string>{OutWindows("d1\\d2\\a.txt"), OutWindows("e1\\e2\\b.txt")}),
            Recorded());
  EXPECT_EQ("\r\n  Extracting: " + OutWindows("d1\\d2\\a.txt"), StatusLines()[0]);
}

TEST_F(Walk, MembersFromThe256thOnAreExtractedButNotRecorded) {
  std::vector<ZipMember> members;
  for (int i = 0; i < 258; ++i)
    members.push_back({"f" + std::to_string(i), ToBytes(std::to_string(i))});
  Load(BuildZip(members));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(255, state.extractedCount);
  EXPECT_EQ(OutWindows("f254"), std::string(state.extractedFiles[254].text));
  for (int i = 0; i < 258; ++i)
    EXPECT_EQ(ToBytes(std::to_string(i)), ReadFile(Out("f" + std::to_string(i))));
}

TEST_F(Walk, UnknownMethodLeavesAnEmptyRecordedFileAndStops) {
  ZipMember imploded{"old.bin", ToBytes("imploded data"), 6};
  Load(BuildZip({{"a.txt", ToBytes("a")}, imploded, {"never.txt", ToBytes("n")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Unknown compression type"}), Boxes());
  EXPECT_TRUE(Exists(Out("old.bin")));
  EXPECT_TRUE(ReadFile(Out("old.bin")).empty());
  EXPECT_EQ((std::vector<std::string>{OutWindows("a.txt"), OutWindows("old.bin")}), Recorded());
  EXPECT_FALSE(Exists(Out("never.txt")));
  EXPECT_EQ(1, host::OpenHandles());  // only the package file stays open
}

TEST_F(Walk, CrcMismatchFailsAndStops) {
  ZipMember bad{"bad.txt", ToBytes("payload")};
  bad.crc = Crc32(ToBytes("payload")) ^ 1;
  Load(BuildZip({bad, {"never.txt", ToBytes("n")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
  EXPECT_EQ((std::vector<std::string>{OutWindows("bad.txt")}), Recorded());
  EXPECT_FALSE(Exists(Out("never.txt")));
  for (const auto &b : host::MessageBoxes()) {
    EXPECT_EQ(UINT(MB_ICONHAND), b.style);
    EXPECT_FALSE(b.hasOwner);
  }
}

TEST_F(Walk, DeflatedCrcMismatchFails) {
  ZipMember bad{"bad.bin", Pattern(3000), 8};
  bad.crc = Crc32(Pattern(3000)) + 1;
  Load(BuildZip({bad}));
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
}

TEST_F(Walk, ArchiveWithoutMembersFails) {
  Load(BuildZip({}), /*skipCheck=*/true);
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
  EXPECT_EQ((std::vector<std::string>{"Error extracting file(s)."}), StatusLines());
}

TEST_F(Walk, FailedSeekToTheArchiveIsReported) {
  Load(BuildZip({{"a.txt", ToBytes("a")}}));
  state.archiveBase = -100;
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ((std::vector<std::string>{"Error: Error reading archive."}), Boxes());
  EXPECT_FALSE(Exists(Out("a.txt")));
}

TEST_F(Walk, ExistingFileIsReplacedAndExistingFolderKept) {
  WriteFile(Out("d/a.txt"), std::string(5000, 'o'));
  WriteFile(Out("d/keep.txt"), "keep");
  Load(BuildZip({{"d/a.txt", ToBytes("new")}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(ToBytes("new"), ReadFile(Out("d/a.txt")));
  EXPECT_EQ(ToBytes("keep"), ReadFile(Out("d/keep.txt")));
}

TEST_F(Walk, EveryBlockIsReleasedAndEveryOutputFileClosed) {
  Load(BuildZip({{"a.txt", ToBytes("a")}, {"b.bin", Pattern(70000), 8}}));
  int blocksBefore = host::LiveBlocks();
  int handlesBefore = host::OpenHandles();
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(blocksBefore, host::LiveBlocks());
  EXPECT_EQ(handlesBefore, host::OpenHandles());
}

TEST_F(Walk, LastWriteTimeIsTheDosTimeReadAsLocalTime) {
  ZipMember m{"t.txt", ToBytes("t")};
  m.dosDate = uint16_t(((2020 - 1980) << 9) | (6 << 5) | 15);  // 2020-06-15
  m.dosTime = uint16_t((13 << 11) | (45 << 5) | (30 / 2));     // 13:45:30
  host::SetTimeZoneBias(-120);                                 // UTC+2
  Load(BuildZip({m}));
  ASSERT_EQ(-1, Extract());
  ASSERT_TRUE(state.extractOk);
  struct stat st;
  ASSERT_EQ(0, stat(Posix(Out("t.txt")).c_str(), &st));
  // 2020-06-15 13:45:30 local at UTC+2 is 11:45:30 UTC.
  EXPECT_EQ(1592221530, st.st_mtime);
}

TEST_F(Walk, UnconvertibleDosTimeLeavesTheFileTimeAlone) {
  ZipMember m{"t.txt", ToBytes("t")};
  m.dosDate = uint16_t((45 << 9) | (13 << 5) | 1);  // month 13
  Load(BuildZip({m}));
  time_t before = time(nullptr);
  ASSERT_EQ(-1, Extract());
  ASSERT_TRUE(state.extractOk);
  struct stat st;
  ASSERT_EQ(0, stat(Posix(Out("t.txt")).c_str(), &st));
  EXPECT_GE(st.st_mtime, before - 2);
}

// A full disk fails the member whatever its method and wherever the write
// falls short: inside a window, at the final flush, or with nothing written.
struct ShortWrite {
  int method;
  size_t size;
  long long room;
};

void PrintTo(const ShortWrite &c, std::ostream *out) {
  *out << "method " << c.method << ", " << c.size << " bytes, room for " << c.room;
}

class ShortWriteWalk : public Walk, public ::testing::WithParamInterface<ShortWrite> {};

TEST_P(ShortWriteWalk, FailsTheMemberAndStopsTheWalk) {
  const ShortWrite &c = GetParam();
  Load(BuildZip({{"a.bin", Pattern(c.size), c.method}, {"b.bin", Pattern(50), c.method}}));
  host::LimitWrites(c.room);
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ(1, state.ioError);
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
  EXPECT_FALSE(Exists(Out("b.bin")));
}

INSTANTIATE_TEST_SUITE_P(Methods, ShortWriteWalk,
                         ::testing::Values(ShortWrite{0, 10000, 4000}, ShortWrite{8, 10000, 4000},
                                           ShortWrite{8, 10000, 0}, ShortWrite{8, 60000, 40960},
                                           ShortWrite{8, 100000, 32768}));

TEST_F(Walk, StoredMemberOfOneChunkAndOneByte) {
  Load(BuildZip({{"c.bin", Pattern(32769, 9)}}));
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(Pattern(32769, 9), ReadFile(Out("c.bin")));
}

}  // namespace
