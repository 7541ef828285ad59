// Loading the package from the program's own file: header, texts,
// temporary folder and the integrity check of the archive's end.
#include <gtest/gtest.h>

#include "startup/package.h"
#include "support/package_builder.h"
#include "support/scratch.h"

using namespace testing_support;

namespace {

class PackageLoading : public HostMachine {
 protected:
  void SetUp() override {
    HostMachine::SetUp();
    PrepareProgram();
    host::SetModuleFileName("C:\\setup.exe");
  }

  // Runs LoadPackage on `package` as the program file; returns the exit
  // code when the load ended the process, or -1 when it returned.
  int Load(const Bytes &package, bool *result = nullptr) {
    WriteFile("setup.exe", package);
    return host::RunAsProcess([&] {
      bool loaded = LoadPackage();
      if (result) *result = loaded;
      return -1;
    });
  }

  static Bytes SmallArchive(const std::string &comment = "") {
    return BuildZip({{"setup.inf", ToBytes("[Version]\r\n")}}, comment);
  }

  bool RejectedAsCorrupt() const {
    for (const auto &box : host::MessageBoxes()) {
      if (box.caption == "Error" &&
          box.text == "The setup file is corrupted. Please obtain a new copy of the program." &&
          box.style == MB_ICONHAND && !box.hasOwner)
        return true;
    }
    return false;
  }
};

TEST_F(PackageLoading, ReadsHeaderFieldsAndTexts) {
  PackageContents contents;
  contents.title = "Tool 2.0";
  contents.infName = "tool.inf";
  contents.welcome = "Welcome to Tool.";
  contents.licence = "Terms: be nice.";
  contents.storedPassword = "pw";
  contents.stayOpen = contents.advpack = true;
  contents.archive = SmallArchive();
  bool loaded = false;
  ASSERT_EQ(-1, Load(BuildPackage(contents), &loaded));
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(state.hasTitle);
  EXPECT_STREQ("Tool 2.0", state.title);
  EXPECT_STREQ("tool.inf", state.infName);
  EXPECT_STREQ("Welcome to Tool.", state.welcomeText);
  EXPECT_STREQ("Terms: be nice.", state.licenceText);
  EXPECT_STREQ("pw", state.storedPassword);
  EXPECT_EQ(16, state.welcomeTextLength);
  EXPECT_EQ(15, state.licenceTextLength);
  EXPECT_TRUE(state.stayOpen);
  EXPECT_TRUE(state.useAdvpack);
  EXPECT_FALSE(state.adminRequired);
  EXPECT_FALSE(state.multiPart);
  LONG expectedBase = 35328 + 25 + 8 + 8 + 2 + 16 + 15;
  EXPECT_EQ(expectedBase, state.archiveBase);
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(PackageLoading, FileWithoutMagicLoadsAsEmptyPackage) {
  PackageContents contents;
  contents.magic = false;
  contents.archive = SmallArchive();
  bool loaded = false;
  ASSERT_EQ(-1, Load(BuildPackage(contents), &loaded));
  EXPECT_TRUE(loaded);
  EXPECT_EQ(0, state.archiveBase);
  EXPECT_FALSE(state.hasTitle);
  EXPECT_STREQ("", state.title);
  EXPECT_STREQ("", state.infName);
  EXPECT_STREQ("", state.welcomeText);  // empty, not the default text
  EXPECT_EQ(0, state.welcomeTextLength);
  EXPECT_EQ(0, state.totalSize);
  EXPECT_FALSE(state.stayOpen || state.multiPart || state.useAdvpack || state.skipIntegrityCheck);
}

TEST_F(PackageLoading, NoTitleAndNoWelcomeTextGiveDefaults) {
  PackageContents contents;
  contents.archive = SmallArchive();
  bool loaded = false;
  ASSERT_EQ(-1, Load(BuildPackage(contents), &loaded));
  EXPECT_TRUE(loaded);
  EXPECT_FALSE(state.hasTitle);
  EXPECT_STREQ("", state.title);
  EXPECT_STREQ("\r\r\rPlease click \"Install\" to start setup.", state.welcomeText);
  EXPECT_EQ(0, state.welcomeTextLength);
  EXPECT_STREQ("", state.licenceText);
}

TEST_F(PackageLoading, NegativeTextLengthsSelectDefaultsAndAddNothingToTheBase) {
  PackageContents contents;
  contents.welcomeLength = -5;
  contents.licenceLength = -1;
  contents.archive = SmallArchive();
  bool loaded = false;
  ASSERT_EQ(-1, Load(BuildPackage(contents), &loaded));
  EXPECT_TRUE(loaded);
  EXPECT_EQ(-5, state.welcomeTextLength);
  EXPECT_STREQ("\r\r\rPlease click \"Install\" to start setup.", state.welcomeText);
  EXPECT_STREQ("", state.licenceText);
  EXPECT_EQ(35328 + 25 + 9, state.archiveBase);
}

TEST_F(PackageLoading, OneCharacterTextsPassUnchanged) {
  PackageContents contents;
  contents.welcome = "W";
  contents.licence = "L";
  contents.archive = SmallArchive();
  ASSERT_EQ(-1, Load(BuildPackage(contents)));
  EXPECT_STREQ("W", state.welcomeText);
  EXPECT_STREQ("L", state.licenceText);
}

struct TempCase {
  const char *tempPath;
  const char *expected;
};

void PrintTo(const TempCase &c, std::ostream *out) { *out << '"' << c.tempPath << '"'; }

class TemporaryFolder : public PackageLoading, public ::testing::WithParamInterface<TempCase> {};

TEST_P(TemporaryFolder, IsComposedFromTheTempPathOrTheSystemDirectory) {
  host::SetTempPath(GetParam().tempPath);
  PackageContents contents;
  contents.archive = SmallArchive();
  ASSERT_EQ(-1, Load(BuildPackage(contents)));
  EXPECT_STREQ(GetParam().expected, state.tempDir);
}

const std::string kLongTemp = "C:\\" + std::string(250, 'x') + "\\";
const std::string kTooLongToCompose = "C:\\" + std::string(246, 'y') + "\\";
// The folder must leave 32 characters of a Windows path for what goes in
// it: "\\Vantrel.pkg", or an 8.3 folder holding an 8.3 file.
const std::string kRoomLeft = "C:\\" + std::string(211, 'r') + "\\";  // 215: 227 with the folder
const std::string kRoomShort = "C:\\" + std::string(212, 's') + "\\";
const std::string kNoRoom = "C:\\" + std::string(240, 'n') + "\\";  // 244
const std::string kRoomLeftFolder = kRoomLeft + "$Vantrel.Tmp";

INSTANTIATE_TEST_SUITE_P(
    Paths, TemporaryFolder,
    ::testing::Values(TempCase{"C:\\TEMP\\", "C:\\TEMP\\$Vantrel.Tmp"},
                      TempCase{"C:\\Documents and Settings\\me\\Local Settings\\Temp\\",
                               "C:\\windows\\system32\\$Vantrel.Tmp"},
                      TempCase{"C", "C:\\windows\\system32\\$Vantrel.Tmp"},
                      TempCase{"", "C:\\windows\\system32\\$Vantrel.Tmp"},
                      // Longer than the call's limit: the system directory instead.
                      TempCase{kLongTemp.c_str(), "C:\\windows\\system32\\$Vantrel.Tmp"},
                      // Fits the call, but the composed folder would pass 260 characters.
                      TempCase{kTooLongToCompose.c_str(), "C:\\windows\\system32\\$Vantrel.Tmp"},
                      // Fits, but leaves no room for the files that go inside.
                      TempCase{kNoRoom.c_str(), "C:\\windows\\system32\\$Vantrel.Tmp"},
                      TempCase{kRoomShort.c_str(), "C:\\windows\\system32\\$Vantrel.Tmp"},
                      TempCase{kRoomLeft.c_str(), kRoomLeftFolder.c_str()}));

TEST_F(PackageLoading, TempPathWithSpaceLeavesNothingOfTheLongerPathBehind) {
  host::SetTempPath("C:\\A Much Longer Temporary Path Than The System One\\");
  PackageContents contents;
  contents.archive = SmallArchive();
  ASSERT_EQ(-1, Load(BuildPackage(contents)));
  EXPECT_EQ(std::string("C:\\windows\\system32\\$Vantrel.Tmp"), std::string(state.tempDir));
}

TEST_F(PackageLoading, ProgramFileThatCannotBeOpenedIsReported) {
  host::SetModuleFileName("C:\\missing.exe");
  bool loaded = true;
  int code = host::RunAsProcess([&] {
    loaded = LoadPackage();
    return -1;
  });
  EXPECT_EQ(-1, code);
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(state.ioError);
  ASSERT_EQ(1u, host::MessageBoxes().size());
  EXPECT_EQ("Cannot open file ..", host::MessageBoxes()[0].caption);
  EXPECT_EQ("C:\\missing.exe", host::MessageBoxes()[0].text);
}

// ---- the integrity check ----------------------------------------------------

TEST_F(PackageLoading, ArchiveWithCommentPasses) {
  PackageContents contents;
  contents.archive = SmallArchive("a comment at the very end");
  bool loaded = false;
  EXPECT_EQ(-1, Load(BuildPackage(contents), &loaded));
  EXPECT_TRUE(loaded);
}

TEST_F(PackageLoading, BytesAppendedAfterTheCommentFail) {
  PackageContents contents;
  contents.archive = SmallArchive("comment");
  Bytes package = BuildPackage(contents);
  package.push_back('!');
  EXPECT_EQ(0, Load(package));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, ArchiveCutShortFails) {
  PackageContents contents;
  contents.archive = SmallArchive();
  Bytes package = BuildPackage(contents);
  package.resize(package.size() - 10);
  EXPECT_EQ(0, Load(package));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, ArchiveOf22BytesOrLessFails) {
  PackageContents contents;
  contents.archive = Bytes{0x50, 0x4B, 0x05, 0x06};
  contents.archive.resize(22, 0);
  contents.archive.pop_back();  // 21 bytes: a real end record cannot fit
  EXPECT_EQ(0, Load(BuildPackage(contents)));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, EmptyArchiveOfExactly22BytesFails) {
  PackageContents contents;
  contents.archive = BuildZip({});
  ASSERT_EQ(22u, contents.archive.size());
  EXPECT_EQ(0, Load(BuildPackage(contents)));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, RsfEndingPasses) {
  PackageContents contents;
  contents.archive = Bytes(40, 0x11);
  contents.archive.insert(contents.archive.end(), {'R', 'S', 'F', '?'});
  bool loaded = false;
  EXPECT_EQ(-1, Load(BuildPackage(contents), &loaded));
  EXPECT_TRUE(loaded);
}

TEST_F(PackageLoading, SkipFlagAndMultiPartSkipTheCheck) {
  PackageContents contents;
  contents.skipCheck = true;
  contents.archive = Bytes(10, 0x11);
  bool loaded = false;
  EXPECT_EQ(-1, Load(BuildPackage(contents), &loaded));
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(PackageLoading, LengthsPastTheEndFailAsCorruptNotAsFatalMemoryError) {
  PackageContents contents;
  contents.archive = SmallArchive();
  contents.welcomeLength = 0x7FFFFFF0;
  EXPECT_EQ(0, Load(BuildPackage(contents)));
  EXPECT_TRUE(RejectedAsCorrupt());
  for (const auto &box : host::MessageBoxes()) EXPECT_NE(MB_OK, box.style) << box.text;
}

TEST_F(PackageLoading, HeaderCutShortLoadsZerosAndFailsTheCheck) {
  PackageContents contents;
  contents.title = "Cut";
  contents.archive = SmallArchive();
  Bytes package = BuildPackage(contents);
  package.resize(35328 + 10);  // inside the fixed header
  EXPECT_EQ(0, Load(package));
  EXPECT_TRUE(RejectedAsCorrupt());
  EXPECT_EQ(0, state.welcomeTextLength);
  EXPECT_EQ(0, state.totalSize);
}

TEST_F(PackageLoading, SeekPackageReportsFailure) {
  PackageContents contents;
  contents.archive = SmallArchive();
  ASSERT_EQ(-1, Load(BuildPackage(contents)));
  SeekPackage(100, FILE_BEGIN);
  EXPECT_EQ(100, state.seekResult);
  SeekPackage(-1000000, FILE_END);
  EXPECT_EQ(-1, state.seekResult);
}

}  // namespace
