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
  PackageContents package;
  package.title = "Tool 2.0";
  package.infName = "tool.inf";
  package.welcome = "Welcome to Tool.";
  package.licence = "Terms: be nice.";
  package.storedPassword = "pw";
  package.stayOpen = package.advpack = true;
  package.archive = SmallArchive();
  bool loaded = false;
  ASSERT_EQ(-1, Load(BuildPackage(package), &loaded));
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
  PackageContents package;
  package.magic = false;
  package.archive = SmallArchive();
  bool loaded = false;
  ASSERT_EQ(-1, Load(BuildPackage(package), &loaded));
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
  PackageContents package;
  package.archive = SmallArchive();
  bool loaded = false;
  ASSERT_EQ(-1, Load(BuildPackage(package), &loaded));
  EXPECT_TRUE(loaded);
  EXPECT_FALSE(state.hasTitle);
  EXPECT_STREQ("", state.title);
  EXPECT_STREQ("\r\r\rPlease click \"Install\" to start setup.", state.welcomeText);
  EXPECT_EQ(0, state.welcomeTextLength);
  EXPECT_STREQ("", state.licenceText);
}

TEST_F(PackageLoading, NegativeTextLengthsSelectDefaultsAndAddNothingToTheBase) {
  PackageContents package;
  package.welcomeLength = -5;
  package.licenceLength = -1;
  package.archive = SmallArchive();
  bool loaded = false;
  ASSERT_EQ(-1, Load(BuildPackage(package), &loaded));
  EXPECT_TRUE(loaded);
  EXPECT_EQ(-5, state.welcomeTextLength);
  EXPECT_STREQ("\r\r\rPlease click \"Install\" to start setup.", state.welcomeText);
  EXPECT_STREQ("", state.licenceText);
  EXPECT_EQ(35328 + 25 + 9, state.archiveBase);
}

TEST_F(PackageLoading, OneCharacterTextsPassUnchanged) {
  PackageContents package;
  package.welcome = "W";
  package.licence = "L";
  package.archive = SmallArchive();
  ASSERT_EQ(-1, Load(BuildPackage(package)));
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
  PackageContents package;
  package.archive = SmallArchive();
  ASSERT_EQ(-1, Load(BuildPackage(package)));
  EXPECT_STREQ(GetParam().expected, state.tempDir);
}

const std::string kLongTemp = "C:\\" + std::string(250, 'x') + "\\";
const std::string kTooLongToCompose = "C:\\" + std::string(246, 'y') + "\\";

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
                      TempCase{kTooLongToCompose.c_str(), "C:\\windows\\system32\\$Vantrel.Tmp"}));

TEST_F(PackageLoading, TempPathWithSpaceLeavesNothingOfTheLongerPathBehind) {
  host::SetTempPath("C:\\A Much Longer Temporary Path Than The System One\\");
  PackageContents package;
  package.archive = SmallArchive();
  ASSERT_EQ(-1, Load(BuildPackage(package)));
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
  PackageContents package;
  package.archive = SmallArchive("a comment at the very end");
  bool loaded = false;
  EXPECT_EQ(-1, Load(BuildPackage(package), &loaded));
  EXPECT_TRUE(loaded);
}

TEST_F(PackageLoading, BytesAppendedAfterTheCommentFail) {
  PackageContents package;
  package.archive = SmallArchive("comment");
  Bytes package = BuildPackage(package);
  package.push_back('!');
  EXPECT_EQ(0, Load(package));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, ArchiveCutShortFails) {
  PackageContents package;
  package.archive = SmallArchive();
  Bytes package = BuildPackage(package);
  package.resize(package.size() - 10);
  EXPECT_EQ(0, Load(package));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, ArchiveOf22BytesOrLessFails) {
  PackageContents package;
  package.archive = Bytes{0x50, 0x4B, 0x05, 0x06};
  package.archive.resize(22, 0);
  package.archive.pop_back();  // 21 bytes: a real end record cannot fit
  EXPECT_EQ(0, Load(BuildPackage(package)));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, EmptyArchiveOfExactly22BytesFails) {
  PackageContents package;
  package.archive = BuildZip({});
  ASSERT_EQ(22u, package.archive.size());
  EXPECT_EQ(0, Load(BuildPackage(package)));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, RsfEndingPasses) {
  PackageContents package;
  package.archive = Bytes(40, 0x11);
  package.archive.insert(package.archive.end(), {'R', 'S', 'F', '?'});
  bool loaded = false;
  EXPECT_EQ(-1, Load(BuildPackage(package), &loaded));
  EXPECT_TRUE(loaded);
}

TEST_F(PackageLoading, SkipFlagAndMultiPartSkipTheCheck) {
  PackageContents package;
  package.skipCheck = true;
  package.archive = Bytes(10, 0x11);
  bool loaded = false;
  EXPECT_EQ(-1, Load(BuildPackage(package), &loaded));
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(PackageLoading, LengthsPastTheEndFailAsCorruptNotAsFatalMemoryError) {
  PackageContents package;
  package.archive = SmallArchive();
  package.welcomeLength = 0x7FFFFFF0;
  EXPECT_EQ(0, Load(BuildPackage(package)));
  EXPECT_TRUE(RejectedAsCorrupt());
  for (const auto &box : host::MessageBoxes()) EXPECT_NE(MB_OK, box.style) << box.text;
}

TEST_F(PackageLoading, HeaderCutShortLoadsZerosAndFailsTheCheck) {
  PackageContents package;
  package.title = "Cut";
  package.archive = SmallArchive();
  Bytes package = BuildPackage(package);
  package.resize(35328 + 10);  // inside the fixed header
  EXPECT_EQ(0, Load(package));
  EXPECT_TRUE(RejectedAsCorrupt());
  EXPECT_EQ(0, state.welcomeTextLength);
  EXPECT_EQ(0, state.totalSize);
}

TEST_F(PackageLoading, SeekPackageReportsFailure) {
  PackageContents package;
  package.archive = SmallArchive();
  ASSERT_EQ(-1, Load(BuildPackage(package)));
  SeekPackage(100, FILE_BEGIN);
  EXPECT_EQ(100, state.seekResult);
  SeekPackage(-1000000, FILE_END);
  EXPECT_EQ(-1, state.seekResult);
}

}  // namespace
