// Loading the package from the program's own file: header, texts,
// temporary folder and the integrity check of the archive's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "archive/temp_folder.h"
#include "core/package_file.h"
#include "startup/package.h"
#include "support/package_builder.h"
#include "support/host_machine.h"
#include "support/signing.h"

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

  // The program's verdict on the end of `package`, by its own loading steps.
  PackageEnd Verdict(const Bytes &package) {
    WriteFile("setup.exe", package);
    PackageEnd end = kEndUnreadable;
    host::RunAsProcess([&] {
      state.packageFile = CreateFileA("C:\\setup.exe", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      HeaderLengths lengths;
      ReadFixedHeader(lengths);
      ReadPackageTexts(lengths);
      state.archiveBase = ArchiveBase(lengths);
      end = JudgePackageEnd();
      CloseHandle(state.packageFile);
      ReleasePackageTexts();
      return 0;
    });
    return end;
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
// The folder must leave room in a Windows path for "\\Vantrel.pkg" (CreateDirectoryA
// takes 247 characters at most); members that do not fit are the walker's to refuse.
const std::string kRoomLeft = "C:\\" + std::string(231, 'r') + "\\";  // 234: 247 with the folder
const std::string kRoomShort = "C:\\" + std::string(232, 's') + "\\";
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

// The folder the package goes into: chosen as loading chooses it, then made
// as the installation makes it.
class PrivateFolder : public PackageLoading {
 protected:
  // The exit code when making it ended the program, or -1.
  int Make() {
    return host::RunAsProcess([] {
      UINT n = GetSystemDirectoryA(state.systemDir, kSystemDirSize - 1);
      state.systemDir[n] = 0;
      ChooseTempDir();
      CreateTempFolder();
      return -1;
    });
  }
  std::string Folder() const { return state.tempDir; }
};

// Whatever already stands under the folder's name -- a leftover, a folder
// someone planted with an INF in it, a link to a folder elsewhere, a link
// to nothing, a file -- stays as it is, and the run takes the next name.
TEST_F(PrivateFolder, ANameAlreadyTakenIsLeftAloneAndTheNextOneMade) {
  struct Plant {
    const char *what;
    std::function<void()> make;
    const char *expected;
  };
  namespace fs = std::filesystem;
  std::vector<Plant> plants = {
      {"a folder with an INF in it",
       [this] { WriteFile("temp/$Vantrel.Tmp/setup.inf", "[planted]"); },
       "C:\\temp\\$Vant001.Tmp"},
      {"a link to a folder elsewhere",
       [this] {
         MakeFolder("elsewhere");
         fs::create_directory_symlink(Posix("elsewhere"), Posix("temp/$Vantrel.Tmp"));
       },
       "C:\\temp\\$Vant001.Tmp"},
      {"a link to nothing",
       [this] {
         fs::create_directory_symlink(Posix("nowhere"), Posix("temp/$Vantrel.Tmp"));
       },
       "C:\\temp\\$Vant001.Tmp"},
      {"a file", [this] { WriteFile("temp/$Vantrel.Tmp", "x"); },
       "C:\\temp\\$Vant001.Tmp"},
      {"two folders",
       [this] {
         MakeFolder("temp/$Vantrel.Tmp");
         MakeFolder("temp/$Vant001.Tmp");
       },
       "C:\\temp\\$Vant002.Tmp"},
  };
  for (const Plant &plant : plants) {
    SCOPED_TRACE(plant.what);
    TearDown();
    SetUp();
    host::SetTempPath("C:\\temp\\");
    MakeFolder("temp");
    plant.make();
    std::vector<std::string> before = Tree();
    ASSERT_EQ(-1, Make());
    EXPECT_EQ(plant.expected, Folder());
    EXPECT_TRUE(state.tempDirCreated);
    // Nothing changed but the new folder.
    std::vector<std::string> after = Tree();
    after.erase(std::remove(after.begin(), after.end(),
                            "temp/" + Folder().substr(sizeof "C:\\temp\\" - 1)),
                after.end());
    EXPECT_EQ(before, after);
    if (Exists("temp/$Vantrel.Tmp/setup.inf")) {
      EXPECT_EQ(ToBytes("[planted]"), ReadFile("temp/$Vantrel.Tmp/setup.inf"));
    }
  }
}

// Made, then swapped for a link by someone quicker before the program looks
// again: that folder is not the program's, and the next name is taken.
TEST_F(PrivateFolder, AFolderThatTurnsIntoALinkIsPassedOver) {
  host::SetTempPath("C:\\temp\\");
  MakeFolder("temp");
  MakeFolder("elsewhere");
  int swaps = 0;
  host::OnFolderCreated([&](const std::string &posix) {
    if (posix != Posix("temp/$Vantrel.Tmp") || swaps++) return;
    std::filesystem::remove(posix);
    std::filesystem::create_directory_symlink(Posix("elsewhere"), posix);
  });
  ASSERT_EQ(-1, Make());
  EXPECT_EQ("C:\\temp\\$Vant001.Tmp", Folder());
  EXPECT_EQ(1, swaps);
}

// On the NT family the folder lets in the running user, SYSTEM and the
// Administrators, with full control passed on to everything made inside,
// and nothing from the folder above (Windows 2000 on: a protected list; NT
// 4.0 merges nothing into a list given at creation). Windows 95 keeps no
// security: nothing is built there.
TEST_F(PrivateFolder, TheSecurityDescriptorFollowsTheFamily) {
  struct Family {
    DWORD platform, major, minor;
    bool given;
    WORD protectedBit;
  };
  const std::string user = "S-1-5-21-1-2-3-1013";
  for (const Family &f : {Family{VER_PLATFORM_WIN32_NT, 5, 1, true, SE_DACL_PROTECTED},
                          Family{VER_PLATFORM_WIN32_NT, 10, 0, true, SE_DACL_PROTECTED},
                          Family{VER_PLATFORM_WIN32_NT, 4, 0, true, 0},
                          Family{VER_PLATFORM_WIN32_WINDOWS, 4, 10, false, 0}}) {
    SCOPED_TRACE(std::to_string(f.platform) + " " + std::to_string(f.major));
    TearDown();
    SetUp();
    host::SetVersion(f.platform, f.major, f.minor);
    host::TokenScript token;
    token.user = user;
    host::SetToken(token);
    host::SetTempPath("C:\\temp\\");
    ASSERT_EQ(-1, Make());
    host::FolderSecurity security = host::SecurityOf(Posix("temp/$Vantrel.Tmp"));
    EXPECT_EQ(f.given, security.given);
    if (!f.given) continue;
    EXPECT_EQ(SE_DACL_PRESENT | f.protectedBit, security.control);
    std::vector<std::string> sids;
    for (const host::AccessEntry &e : security.entries) {
      sids.push_back(e.sid);
      EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, e.type);
      EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, e.flags);
      EXPECT_EQ(FILE_ALL_ACCESS, e.mask);
    }
    EXPECT_EQ((std::vector<std::string>{user, "S-1-5-18", "S-1-5-32-544"}), sids);
    EXPECT_EQ(0, host::LiveSids());
  }
}

// A temporary path with a space is tried in its short form first; the
// system directory stands in only when there is none, and only when the
// program may write there; failing that the path serves as it is.
TEST_F(PrivateFolder, FallbacksForATemporaryPathWithASpace) {
  const std::string spaced = "C:\\Users\\A Person\\Temp\\";
  struct Case {
    const char *what;
    bool shortForm, systemWritable;
    std::string expected;
  };
  for (const Case &c :
       {Case{"short form", true, true, "C:\\Users\\APERSO~1\\Temp\\$Vantrel.Tmp"},
        Case{"no short form", false, true, "C:\\windows\\system32\\$Vantrel.Tmp"},
        Case{"no short form, system directory closed", false, false,
             "C:\\Users\\A Person\\Temp\\$Vantrel.Tmp"}}) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    host::SetTempPath(spaced);
    MakeFolder("Users/A Person/Temp");
    if (c.shortForm) {
      MakeFolder("Users/APERSO~1/Temp");
      host::SetShortPath(spaced, "C:\\Users\\APERSO~1\\Temp\\");
    }
    if (!c.systemWritable) host::DenyCreationIn("C:\\windows\\system32");
    ASSERT_EQ(-1, Make());
    EXPECT_EQ(c.expected, Folder());
    EXPECT_TRUE(std::filesystem::is_directory(host::PosixPath(c.expected)));
  }
}

// Nowhere to make it: the documented end of a failing folder operation,
// with the system's error code.
TEST_F(PrivateFolder, AFolderThatCannotBeMadeAnywhereIsFatal) {
  host::SetTempPath("C:\\Users\\A Person\\Temp\\");
  host::DenyCreationIn("C:\\windows\\system32");
  host::DenyCreationIn("C:\\Users\\A Person\\Temp");
  MakeFolder("Users/A Person/Temp");
  EXPECT_EQ(ERROR_ACCESS_DENIED, Make());
  ASSERT_EQ(1u, host::MessageBoxes().size());
  EXPECT_NE(std::string::npos, host::MessageBoxes()[0].text.find("Runtime error 5 at"));
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
  EXPECT_EQ(1603, Load(package));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, ArchiveCutShortFails) {
  PackageContents contents;
  contents.archive = SmallArchive();
  Bytes package = BuildPackage(contents);
  package.resize(package.size() - 10);
  EXPECT_EQ(1603, Load(package));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, ArchiveOf22BytesOrLessFails) {
  PackageContents contents;
  contents.archive = Bytes{0x50, 0x4B, 0x05, 0x06};
  contents.archive.resize(22, 0);
  contents.archive.pop_back();  // 21 bytes: a real end record cannot fit
  EXPECT_EQ(1603, Load(BuildPackage(contents)));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, EmptyArchiveOfExactly22BytesFails) {
  PackageContents contents;
  contents.archive = BuildZip({});
  ASSERT_EQ(22u, contents.archive.size());
  EXPECT_EQ(1603, Load(BuildPackage(contents)));
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

// Where the search for the end record starts and stops: within the archive
// part only, up to the longest comment, also one that claims more than the
// file holds; an "RSF" mark needs more than 22 bytes of archive too.
TEST_F(PackageLoading, TheEndIsSoughtInTheArchivePartOnly) {
  Bytes fake = BuildZip({});
  fake[fake.size() - 2] = 60;  // its comment would reach the end of the file
  Bytes fakeFirst = fake;
  fakeFirst.insert(fakeFirst.end(), 60, 'j');
  Bytes claiming = SmallArchive("abc");
  claiming.pop_back();
  auto rsf = [](size_t before) {
    Bytes b(before, 'z');
    for (char c : std::string("RSF!")) b.push_back(uint8_t(c));
    return b;
  };
  struct Case {
    const char *what;
    std::string title;
    Bytes archive;
    bool passes;
  } cases[] = {
      {"the longest comment", "h", SmallArchive(std::string(65535, 'c')), true},
      {"a comment claiming more than the file holds", "", claiming, true},
      {"an end record in the title", ToString(fake), Bytes(60, 'j'), false},
      {"the same record opening the archive", "", fakeFirst, true},
      {"RSF after 19 bytes", "", rsf(19), true},
      {"RSF within 19 bytes", "", rsf(15), false},
  };
  for (const Case &c : cases) {
    PackageContents contents;
    contents.title = c.title;
    contents.archive = c.archive;
    EXPECT_EQ(c.passes, PackageEndPasses(Verdict(BuildPackage(contents)))) << c.what;
  }
}

// ---- signed packages ---------------------------------------------------------

// A package whose length leaves `remainder` over a multiple of 8: the
// signing tool pads it with 8 - remainder zeros (none for 0).
Bytes PackageOfLength(size_t remainder, const std::string &commentEnd = "",
                      const std::string &title = "") {
  for (size_t extra = 0;; ++extra) {
    PackageContents contents;
    contents.title = title;
    contents.archive =
        BuildZip({{"setup.inf", ToBytes("[Version]\r\n")}}, std::string(extra, 'c') + commentEnd);
    Bytes package = BuildPackage(contents);
    if (package.size() % 8 == remainder) return package;
  }
}

size_t TableStart(const Bytes &signedPackage) { return Le32At(signedPackage, kSecurityEntryAt); }

// The package with its security entry moved to claim everything from `start`
// to the end of the file, and the checksum made right again, so that only
// where the table lies is judged.
Bytes WithTableAt(Bytes package, uint32_t start) {
  PutLe32At(package, kSecurityEntryAt, start);
  PutLe32At(package, kSecurityEntryAt + 4, uint32_t(package.size()) - start);
  UpdateImageChecksum(package);
  return package;
}

struct SignedCase {
  const char *name;
  std::function<Bytes()> build;
  PackageEnd verdict;
};

void PrintTo(const SignedCase &c, std::ostream *out) { *out << c.name; }

class SignedPackage : public PackageLoading, public ::testing::WithParamInterface<SignedCase> {};

const SignedCase kSignedCases[] = {
    {"PaddedToItsTable", [] { return SignPackage(PackageOfLength(5)); }, kEndRecordAtCertificates},
    {"AlignedWithoutPadding", [] { return SignPackage(PackageOfLength(0)); },
     kEndRecordAtCertificates},
    {"TwoCertificates",
     [] {
       SignatureLayout layout;
       layout.certificates = {Bytes(1203, 0x30), Bytes(77, 0x31)};
       return SignPackage(PackageOfLength(3), layout);
     },
     kEndRecordAtCertificates},
    // Zeros at the end of the comment and the padding after them.
    {"CommentEndingInZeros", [] { return SignPackage(PackageOfLength(3, std::string(3, '\0'))); },
     kEndRecordAtCertificates},
    // As unsigned: a comment may claim more than the file holds.
    {"CommentClaimingMoreThanThereIs",
     [] {
       Bytes package = PackageOfLength(5);
       size_t record = package.size() - 22;
       while (Le32At(package, record) != 0x06054B50) --record;
       package[record + 20] += 16;  // the comment's length
       return SignPackage(package);
     },
     kEndRecordAtCertificates},
    {"MarkBeforeTheTable",
     [] {
       PackageContents contents;
       contents.archive = Bytes(40, 0x11);
       contents.archive.insert(contents.archive.end(), {'R', 'S', 'F', '?'});
       return SignPackage(BuildPackage(contents));
     },
     kEndMarked},
    {"OneByteChangedInTheArchive",
     [] {
       Bytes package = SignPackage(PackageOfLength(5));
       package[35328 + 40] ^= 0x01;
       return package;
     },
     kChangedAfterSigning},
    {"ChecksumLeftAsBefore",
     [] {
       Bytes package = SignPackage(PackageOfLength(5));
       PutLe32At(package, kChecksumAt, 0);
       return package;
     },
     kChangedAfterSigning},
    // The checksum is brought up to date in the cases below, so that the
    // table's place alone decides.
    {"BytesAppendedAfterTheTable",
     [] {
       SignatureLayout layout;
       layout.appended = ToBytes("appended");
       return SignPackage(PackageOfLength(5), layout);
     },
     kSecurityEntryRefused},
    {"EntryPointingIntoTheArchive",
     [] { return WithTableAt(SignPackage(PackageOfLength(5)), (35328 + 64) / 8 * 8); },
     kSecurityEntryRefused},
    {"EntryBeforeTheArchive",
     [] { return WithTableAt(SignPackage(PackageOfLength(5)), 35328); },
     kSecurityEntryRefused},
    {"TableShortOfTheEnd",
     [] {
       SignatureLayout layout;
       layout.certificates = {Bytes(1200, 0x30), Bytes(64, 0x31)};
       Bytes package = SignPackage(PackageOfLength(5), layout);
       PutLe32At(package, kSecurityEntryAt + 4, 1208);  // the first certificate only
       UpdateImageChecksum(package);
       return package;
     },
     kSecurityEntryRefused},
    {"TableStartOffItsBoundary",
     [] {
       Bytes package = SignPackage(PackageOfLength(4));
       return WithTableAt(package, uint32_t(TableStart(package)) - 4);
     },
     kSecurityEntryRefused},
    {"TablePastTheEnd",
     [] {
       SignatureLayout layout;
       layout.tableStart = 0x7FFFFFF8;
       return SignPackage(PackageOfLength(5), layout);
     },
     kSecurityEntryRefused},
    {"SizeWithoutStart",
     [] {
       SignatureLayout layout;
       layout.tableStart = 0;
       return SignPackage(PackageOfLength(5), layout);
     },
     kSecurityEntryRefused},
    {"LastCertificateUnpadded",
     [] {
       Bytes package = SignPackage(PackageOfLength(5));  // 1,203 bytes: padded by 5
       package.resize(package.size() - 4);
       PutLe32At(package, kSecurityEntryAt + 4, Le32At(package, kSecurityEntryAt + 4) - 4);
       UpdateImageChecksum(package);
       return package;
     },
     kSecurityEntryRefused},
    // A well-formed table in the title, swallowing the rest of the file.
    {"TableInsideTheHeaderTexts",
     [] {
       // The title starts at 35,353; the entry at the next multiple of 8.
       Bytes package = PackageOfLength(0, "", std::string(7 + 8, 't'));
       AddImageHeaders(package);
       const uint32_t start = 35360;
       PutLe32At(package, start, uint32_t(package.size()) - start);
       PutLe32At(package, start + 4, 0x00020200);
       return WithTableAt(package, start);
     },
     kSecurityEntryRefused},
    {"UnknownCertificateRevision",
     [] {
       Bytes package = SignPackage(PackageOfLength(5));
       package[TableStart(package) + 5] = 0x03;
       UpdateImageChecksum(package);
       return package;
     },
     kSecurityEntryRefused},
    {"CertificateLongerThanTheTable",
     [] {
       Bytes package = SignPackage(PackageOfLength(5));
       size_t start = TableStart(package);
       PutLe32At(package, start, Le32At(package, start) + 8);
       UpdateImageChecksum(package);
       return package;
     },
     kSecurityEntryRefused},
    {"SomethingElseThanPadding",
     [] {
       Bytes package = SignPackage(PackageOfLength(5));
       package[TableStart(package) - 1] = 0x01;
       UpdateImageChecksum(package);
       return package;
     },
     kNoEndRecordAtCertificates},
    {"EightZerosBeforeTheTable",
     [] {
       Bytes package = PackageOfLength(0);
       package.resize(package.size() + 8, 0);
       return SignPackage(package);
     },
     kNoEndRecordAtCertificates},
    // An unsigned program: the file's end decides, as it always has.
    {"UnsignedImage",
     [] {
       Bytes package = PackageOfLength(5);
       AddImageHeaders(package);
       return package;
     },
     kEndRecordAtEnd},
    {"UnsignedImageWithBytesAppended",
     [] {
       Bytes package = PackageOfLength(5);
       AddImageHeaders(package);
       package.resize(package.size() + 3, 0);
       return package;
     },
     kNoEndRecordAtEnd},
};

TEST_P(SignedPackage, IsJudgedByWhatPrecedesItsCertificateTable) {
  Bytes package = GetParam().build();
  EXPECT_EQ(int(GetParam().verdict), int(Verdict(package)));
  bool loaded = false;
  int code = Load(package, &loaded);
  if (PackageEndPasses(GetParam().verdict)) {
    EXPECT_EQ(-1, code);
    EXPECT_TRUE(loaded);
    EXPECT_TRUE(host::MessageBoxes().empty());
  } else {
    EXPECT_EQ(1603, code);
    EXPECT_TRUE(RejectedAsCorrupt());
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SignedPackage, ::testing::ValuesIn(kSignedCases),
                         [](const ::testing::TestParamInfo<SignedCase> &info) {
                           return std::string(info.param.name);
                         });

// With the check switched off the program does not look, signed or not; a
// split package's program file is judged by its signature alone.
TEST_F(PackageLoading, SkipFlagIgnoresTheSignatureAndSplitPackagesCheckIt) {
  PackageContents contents;
  contents.skipCheck = true;
  contents.archive = SmallArchive();
  SignatureLayout outOfPlace;
  outOfPlace.appended = ToBytes("appended");
  bool loaded = false;
  EXPECT_EQ(-1, Load(SignPackage(BuildPackage(contents), outOfPlace), &loaded));
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(host::MessageBoxes().empty());

  contents.skipCheck = false;
  contents.multiPart = true;
  contents.archive = Bytes(5, 0x11);  // the rest of the archive is in the parts
  Bytes program = SignPackage(BuildPackage(contents));
  EXPECT_EQ(int(kEndInParts), int(Verdict(program)));
  program[35328 + 30] ^= 0x01;
  EXPECT_EQ(int(kChangedAfterSigning), int(Verdict(program)));
  EXPECT_EQ(1603, Load(program));
  EXPECT_TRUE(RejectedAsCorrupt());
}

TEST_F(PackageLoading, LengthsPastTheEndFailAsCorruptNotAsFatalMemoryError) {
  PackageContents contents;
  contents.archive = SmallArchive();
  contents.welcomeLength = 0x7FFFFFF0;
  EXPECT_EQ(1603, Load(BuildPackage(contents)));
  EXPECT_TRUE(RejectedAsCorrupt());
  for (const auto &box : host::MessageBoxes()) EXPECT_NE(MB_OK, box.style) << box.text;
}

TEST_F(PackageLoading, HeaderCutShortLoadsZerosAndFailsTheCheck) {
  PackageContents contents;
  contents.title = "Cut";
  contents.archive = SmallArchive();
  Bytes package = BuildPackage(contents);
  package.resize(35328 + 10);  // inside the fixed header
  EXPECT_EQ(1603, Load(package));
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
