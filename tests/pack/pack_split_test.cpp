// vantrel-pack create --split: the pieces, their names, the header's
// multi-part fields, and inspect reading the pieces back.
#include "pack_fixture.h"
#include "package/reader.h"

namespace pack_test {
namespace {

using vantrel_pack::ReadPackage;

class SplitTest : public PackTest {
 protected:
  void SetUp() override {
    PackTest::SetUp();
    WriteFile(source / "big.bin", Noise(100000, 11));
  }
};

TEST_F(SplitTest, PiecesFollowTheProgramFileInOrder) {
  ASSERT_EQ(Create(dir / "whole.exe", {"--level", "0"}), 0) << err.str();
  ASSERT_EQ(Create(dir / "setup.exe", {"--level", "0", "--split", "40k"}), 0) << err.str();
  std::string whole = ReadFile(dir / "whole.exe");
  std::string joined;
  const char *names[] = {"setup.exe", "setup.001", "setup.002", "setup.003"};
  for (const char *name : names) {
    ASSERT_TRUE(fs::exists(dir / name)) << name;
    std::string piece = ReadFile(dir / name);
    if (joined.size() + piece.size() < whole.size()) {
      EXPECT_EQ(piece.size(), 40960u) << name;
    }
    joined += piece;
  }
  EXPECT_FALSE(fs::exists(dir / "setup.004"));
  ASSERT_EQ(joined.size(), whole.size());
  EXPECT_EQ(joined[kStubBytes + 17], 1);                               // multiPart
  EXPECT_EQ(Le(joined, kStubBytes + 21, 4), uint32_t(joined.size()));  // totalSize
  auto view = ReadPackage((dir / "setup.exe").string());
  EXPECT_EQ(joined.substr(size_t(view.archiveBase)), whole.substr(size_t(view.archiveBase)));
  EXPECT_EQ(view.pieces->pieces().size(), 4u);
  EXPECT_EQ(view.missingPart, 0);
  ASSERT_EQ(Run({"inspect", "--json", (dir / "setup.exe").string()}), 0);
  EXPECT_NE(out.str().find("\"multiPart\": true"), std::string::npos);
  EXPECT_NE(out.str().find("setup.003"), std::string::npos);
  EXPECT_NE(out.str().find("\"warnings\": []"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("\"name\": \"big.bin\""), std::string::npos);
}

// Signing pads the program file to a multiple of 8 bytes, and the rebuild
// cannot tell such padding from the package's own bytes: the pieces are
// cut on that boundary, so that there is none.
TEST_F(SplitTest, PiecesAreMultiplesOfEightSoThatSigningAddsNoPadding) {
  ASSERT_EQ(Create(dir / "setup.exe", {"--level", "0", "--split", "40003"}), 0) << err.str();
  EXPECT_EQ(fs::file_size(dir / "setup.exe"), 40000u);
  EXPECT_EQ(fs::file_size(dir / "setup.001"), 40000u);
  auto view = ReadPackage((dir / "setup.exe").string());
  EXPECT_EQ(view.bytes->Size(), uint64_t(view.header.totalSize));
}

// "1.44m" as a diskette's size, not 1.44 MiB, which would not fit on one.
TEST_F(SplitTest, NamedMediaSizesFitTheirMedium) {
  WriteFile(source / "big.bin", Noise(1600000, 12));
  for (const char *size : {"floppy", "1.44m"}) {
    ASSERT_EQ(Create(dir / "setup.exe", {"--level", "0", "--split", size}), 0) << err.str();
    EXPECT_EQ(fs::file_size(dir / "setup.exe"), 1457664u) << size;
    EXPECT_TRUE(fs::exists(dir / "setup.001")) << size;
    // A signature would make the program file outgrow the diskette.
    EXPECT_NE(err.str().find("signing adds"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("such as 1407k"), std::string::npos) << err.str();
  }
  EXPECT_EQ(Create(dir / "setup.exe", {"--split", "1.5m"}), 2);
}

TEST_F(SplitTest, PartsReplaceTheLastThreeCharactersWhateverTheExtension) {
  ASSERT_EQ(Create(dir / "setup.ex", {"--split", "40k"}), 0) << err.str();
  EXPECT_TRUE(fs::exists(dir / "setup001"));
  EXPECT_TRUE(fs::exists(dir / "setup002"));
  ASSERT_EQ(Create(dir / "pkg.long", {"--split", "40k"}), 0) << err.str();
  EXPECT_TRUE(fs::exists(dir / "pkg.l001"));
  auto view = ReadPackage((dir / "pkg.long").string());
  EXPECT_EQ(view.bytes->Size(), uint64_t(view.header.totalSize));
  EXPECT_EQ(vantrel_pack::PartName("C:\\X\\SETUP.EXE", 12), "C:\\X\\SETUP.012");
  EXPECT_EQ(vantrel_pack::PartName("SETUP.EX", 1), "SETUP001");
  EXPECT_EQ(vantrel_pack::PartName("a.exe", 255), "a.255");
}

TEST_F(SplitTest, ASmallPackageStaysOnePieceButIsMarkedMultiPart) {
  ASSERT_EQ(Create(dir / "setup.exe", {"--split", "1m"}), 0) << err.str();
  EXPECT_FALSE(fs::exists(dir / "setup.001"));
  EXPECT_EQ(err.str().find("signing adds"), std::string::npos) << err.str();
  std::string file = ReadFile(dir / "setup.exe");
  EXPECT_EQ(file[kStubBytes + 17], 1);
  EXPECT_EQ(Le(file, kStubBytes + 21, 4), uint32_t(file.size()));
}

TEST_F(SplitTest, AtMost255NumberedParts) {
  WriteFile(source / "big.bin", Noise(9500000, 5));
  ASSERT_EQ(Create(dir / "whole.exe", {"--level", "0"}), 0) << err.str();
  uint64_t total = fs::file_size(dir / "whole.exe");
  // The program file and 255 parts; piece sizes are multiples of 8.
  uint64_t fits = ((total + 255) / 256 + 7) / 8 * 8;
  fs::remove(dir / "whole.exe");
  EXPECT_EQ(Create(dir / "setup.exe", {"--level", "0", "--split", std::to_string(fits - 1)}), 1);
  EXPECT_NE(err.str().find("255"), std::string::npos) << err.str();
  EXPECT_EQ(Entries(dir), (std::vector<std::string>{"src", "stub.exe"}));
  ASSERT_EQ(Create(dir / "setup.exe", {"--level", "0", "--split", std::to_string(fits)}), 0)
      << err.str();
  EXPECT_TRUE(fs::exists(dir / "setup.255"));
  EXPECT_FALSE(fs::exists(dir / "setup.256"));
  auto view = ReadPackage((dir / "setup.exe").string());
  EXPECT_EQ(view.pieces->pieces().size(), 256u);
  EXPECT_EQ(view.bytes->Size(), total);
}

TEST_F(SplitTest, TheProgramFileMustHoldTheWholeHeader) {
  EXPECT_EQ(Create(dir / "setup.exe", {"--split", "35000"}), 1);
  EXPECT_NE(err.str().find("too small"), std::string::npos) << err.str();
  EXPECT_EQ(Create(dir / "x.001", {"--split", "40k"}), 1);  // part 1 would be x.001 itself
  EXPECT_EQ(Create(dir / "ab", {"--split", "40k"}), 1);     // no three characters to replace
  EXPECT_EQ(Entries(dir), (std::vector<std::string>{"src", "stub.exe"}));
}

TEST_F(SplitTest, AFailedPieceTakesEveryPieceWithIt) {
  fs::create_directories(dir / "setup.002" / "in-the-way");
  EXPECT_EQ(Create(dir / "setup.exe", {"--level", "0", "--split", "40k"}), 1);
  EXPECT_NE(err.str().find("setup.002"), std::string::npos) << err.str();
  EXPECT_EQ(Entries(dir), (std::vector<std::string>{"setup.002", "src", "stub.exe"}));
}

TEST_F(SplitTest, InspectNamesAMissingPart) {
  ASSERT_EQ(Create(dir / "setup.exe", {"--split", "40k"}), 0) << err.str();
  fs::remove(dir / "setup.002");
  ASSERT_EQ(Run({"inspect", (dir / "setup.exe").string()}), 1);
  EXPECT_NE(out.str().find("setup.002 is missing"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("disk 3"), std::string::npos) << out.str();
}

}  // namespace
}  // namespace pack_test
