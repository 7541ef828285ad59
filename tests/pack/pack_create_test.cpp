// vantrel-pack create: the package layout, texts, flags and members, read
// back both from the raw bytes and through the package reader.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "pack_fixture.h"
#include "commands/stub_image.h"
#include "package/reader.h"
#include "package/stub_resources.h"
#include "startup/descramble.h"
#include "support/signing.h"
#include "support/zlib_codec.h"
#include "zip/sha256.h"
#include "zip/writer.h"

namespace pack_test {
namespace {

using vantrel_pack::PackageView;
using vantrel_pack::ReadPackage;

// Inflates a raw deflate stream, for checking members without the tool.
std::string Inflate(const std::string &packed, size_t expected) {
  testing_support::Bytes out;
  EXPECT_TRUE(testing_support::RawInflate(reinterpret_cast<const unsigned char *>(packed.data()),
                                          packed.size(), &out));
  EXPECT_EQ(out.size(), expected);
  return std::string(out.begin(), out.end());
}

std::string Unscrambled(std::string text) {
  Descramble(reinterpret_cast<BYTE *>(text.data()), LONG(text.size()));
  return text;
}

TEST_F(PackTest, HeaderLayoutHoldsEveryOptionAtItsOffset) {
  WriteFile(dir / "licence.txt", "Terms\nMore terms\n");
  ASSERT_EQ(Create(dir / "out.exe", {"--title", "My Setup", "--welcome", "Welcome!",
                                     "--licence-file", (dir / "licence.txt").string(),
                                     "--stay-open", "--admin", "--advpack", "--skip-check"}),
            0)
      << err.str();
  std::string file = ReadFile(dir / "out.exe");
  EXPECT_EQ(file.substr(0, kStubBytes), ReadFile(stub));
  std::string h = file.substr(kStubBytes, 25);
  EXPECT_EQ(h.substr(0, 3), "ZEP");
  EXPECT_EQ(h[3], 1);                              // stayOpen
  EXPECT_EQ(uint8_t(h[4]), 8);                     // title length
  EXPECT_EQ(uint8_t(h[5]), 9);                     // setup.inf
  EXPECT_EQ(h[6], 1);                              // adminRequired
  EXPECT_EQ(h[7], 0);                              // no stored password, ever
  EXPECT_EQ(Le(h, 8, 4), 8u);                      // "Welcome!"
  EXPECT_EQ(Le(h, 12, 4), 19u);                    // CR LF twice
  EXPECT_EQ(h[17], 0);                             // multiPart
  EXPECT_EQ(h[18], 1);                             // skipIntegrityCheck
  EXPECT_EQ(h[19], 1);                             // useAdvpack
  EXPECT_EQ(Le(h, 21, 4), uint32_t(file.size()));  // totalSize
  size_t at = kStubBytes + 25;
  EXPECT_EQ(file.substr(at, 8), "My Setup");
  EXPECT_EQ(file.substr(at + 8, 9), "setup.inf");
  EXPECT_EQ(Unscrambled(file.substr(at + 17, 8)), "Welcome!");
  EXPECT_NE(file.substr(at + 17, 8), "Welcome!");  // stored scrambled
  EXPECT_EQ(Unscrambled(file.substr(at + 25, 19)), "Terms\r\nMore terms\r\n");
  EXPECT_EQ(Le(file, at + 44, 4), 0x04034B50u);  // the archive follows at once
}

TEST_F(PackTest, InspectShowsBackWhatCreateWrote) {
  WriteFile(dir / "welcome.txt", "Line one\nLine two");
  WriteFile(dir / "licence.txt", "Licence");
  ASSERT_EQ(
      Create(dir / "out.exe", {"--title", "Title", "--welcome-file", (dir / "welcome.txt").string(),
                               "--licence-file", (dir / "licence.txt").string(), "--admin"}),
      0)
      << err.str();
  PackageView view = ReadPackage((dir / "out.exe").string());
  ASSERT_TRUE(view.hasMagic);
  EXPECT_FALSE(view.cutShort);
  EXPECT_EQ(view.texts.title, "Title");
  EXPECT_EQ(view.texts.infName, "setup.inf");
  EXPECT_EQ(view.texts.storedPassword, "");
  EXPECT_EQ(view.texts.welcomeText, "Line one\r\nLine two");
  EXPECT_EQ(view.texts.licenceText, "Licence");
  EXPECT_TRUE(view.header.adminRequired);
  EXPECT_FALSE(view.header.stayOpen);
  EXPECT_FALSE(view.header.useAdvpack);
  EXPECT_FALSE(view.header.skipIntegrityCheck);
  EXPECT_FALSE(view.header.multiPart);
  EXPECT_EQ(view.archiveBase, kStubBytes + 25 + 5 + 9 + 18 + 7);

  ASSERT_EQ(Run({"inspect", (dir / "out.exe").string(), "--json"}), 0) << err.str();
  std::string json = out.str();
  EXPECT_NE(json.find("\"title\": \"Title\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"welcomeText\": \"Line one\\r\\nLine two\""), std::string::npos);
  EXPECT_NE(json.find("\"adminRequired\": true"), std::string::npos);
  EXPECT_NE(json.find("\"stayOpen\": false"), std::string::npos);
  EXPECT_NE(json.find("\"archiveBase\": " + std::to_string(view.archiveBase)), std::string::npos);
  EXPECT_NE(json.find("\"state\": \"passed\""), std::string::npos);
  for (const char *name : {"readme.txt", "setup.inf", "sub/data.bin"}) {
    EXPECT_NE(json.find("\"name\": \"" + std::string(name) + "\""), std::string::npos) << name;
  }
  EXPECT_NE(json.find("\"warnings\": []"), std::string::npos);
  EXPECT_NE(json.find("\"at\": \"the central directory\""), std::string::npos) << json;

  ASSERT_EQ(Run({"inspect", (dir / "out.exe").string()}), 0);
  EXPECT_NE(out.str().find("\"Line one\\r\\nLine two\""), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("passed"), std::string::npos);
}

// ---- the stub's manifest and version information ----------------------------

std::string Replaced(std::string text, const std::string &from, const std::string &to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The execution level follows whom the INF installs for, as the NT family's
// sections say, unless --admin or --elevation decide.
TEST_F(PackTest, ExecutionLevelFollowsTheInfUnlessAnOptionDecides) {
  const std::string nineXAndNt =
      "[Version]\r\nSignature=\"$CHICAGO$\"\r\n"
      "[DefaultInstall]\r\nCopyFiles=Old\r\n[DefaultInstall.NTx86]\r\nCopyFiles=New\r\n"
      "[DestinationDirs]\r\nOld=OLD\r\nNew=NEW\r\n[Old]\r\nreadme.txt\r\n[New]\r\nreadme.txt\r\n"
      "[SourceDisksNames]\r\n1=App,,,\r\n[SourceDisksFiles]\r\nreadme.txt=1\r\n";
  const std::string withItem =
      Replaced(kFolderInf, "[DefaultInstall]\r\nCopyFiles=Top,Sub\r\n",
               "[DefaultInstall]\r\nCopyFiles=Top,Sub\r\nProfileItems=Item\r\n") +
      "[Item]\r\nName=App ITEMFLAGS\r\nCmdLine=24,App,readme.txt\r\n";
  struct Case {
    const char *what;
    std::string inf;
    std::vector<std::string> options;
    const char *level;
    const char *because;  // in inspect's line
  } cases[] = {
      {"a folder of the drive's root", kFolderInf, {}, "asInvoker", "installs for the current user"},
      {"Program Files", Replaced(kFolderInf, "Top=24,App", "Top=16422,App"), {},
       "requireAdministrator", "copies into dirid 16422, Program Files"},
      {"the drive's root itself", Replaced(kFolderInf, "Top=24,App", "Top=24"), {},
       "requireAdministrator", "dirid 24, the root of a drive"},
      {"HKLM", Replaced(kEmptyInf, "HKCU,", "HKLM,"), {}, "requireAdministrator",
       "writes HKLM registry keys ([Mark])"},
      {"HKCU", kEmptyInf, {}, "asInvoker", "current user"},
      {"all users' Start menu", Replaced(withItem, " ITEMFLAGS", ""), {}, "requireAdministrator",
       "Start-menu items for all users ([Item])"},
      {"the user's Start menu", Replaced(withItem, " ITEMFLAGS", ",1"), {}, "asInvoker",
       "current user"},
      // Windows 95/98 read no manifest: only the NT family's sections count.
      {"the Windows folder on 9x only",
       Replaced(Replaced(nineXAndNt, "OLD", "10"), "NEW", "24,App"), {}, "asInvoker",
       "current user"},
      {"the system folder on NT", Replaced(Replaced(nineXAndNt, "OLD", "24,App"), "NEW", "11"), {},
       "requireAdministrator", "dirid 11, the system folder"},
      {"--admin", kFolderInf, {"--admin"}, "requireAdministrator", "--admin"},
      // create reads the INF in the folder; inspect cannot read it encrypted.
      {"an encrypted INF", Replaced(kFolderInf, "Top=24,App", "Top=16422,App"),
       {"--password", "secret"}, "requireAdministrator", "cannot be read here: it is encrypted"},
      {"--elevation over the INF", Replaced(kFolderInf, "Top=24,App", "Top=16422,App"),
       {"--elevation", "asInvoker"}, "asInvoker",
       "chosen with --elevation; the default would be requireAdministrator: the INF copies"},
      {"--elevation highestAvailable", kFolderInf, {"--elevation", "highestAvailable"},
       "highestAvailable", "chosen with --elevation"},
  };
  for (const Case &c : cases) {
    WriteFile(source / "setup.inf", c.inf);
    std::vector<std::string> options = {"--stub", BuiltStub().string(), "--no-inf-check"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    ASSERT_EQ(Create(dir / "out.exe", options), 0) << c.what << ": " << err.str();
    std::string image = ReadFile(dir / "out.exe").substr(0, kStubBytes);
    EXPECT_EQ(vantrel_pack::ReadExecutionLevel(image).value_or("none"), c.level) << c.what;
    Run({"inspect", (dir / "out.exe").string()});
    std::string line = out.str().substr(out.str().find("execution level"));
    line = line.substr(0, line.find('\n'));
    EXPECT_NE(line.find(std::string(c.level) + " ("), std::string::npos) << c.what << ": " << line;
    EXPECT_NE(line.find(c.because), std::string::npos) << c.what << ": " << line;
  }
  EXPECT_EQ(Create(dir / "out.exe", {"--elevation", "administrator"}), 2);
  EXPECT_NE(err.str().find("asInvoker, highestAvailable or requireAdministrator"),
            std::string::npos);
  // A stub without a manifest cannot take the level it is asked for.
  EXPECT_EQ(Create(dir / "out.exe", {"--elevation", "asInvoker"}), 1);
  EXPECT_NE(err.str().find("no manifest"), std::string::npos) << err.str();
}

TEST_F(PackTest, VersionInformationIsWrittenIntoTheStubsSlots) {
  using vantrel_pack::ReadVersionInfo;
  const std::string original = ReadFile(BuiltStub());
  fs::remove(source / "setup.inf");
  ASSERT_EQ(Run({"inf", "--name", "Acme Notes", "--version", "2.5.1", "--publisher", "Acme Ltd",
                 "-o", (source / "acme.inf").string(), source.string()}),
            0)
      << err.str();
  // The names the INF records, the description from the title.
  ASSERT_EQ(Create(dir / "a.exe", {"--stub", BuiltStub().string(), "--title", "Acme Notes Setup",
                                   "--copyright", "\u00a9 2026 Acme Ltd"}),
            0)
      << err.str();
  std::string image = ReadFile(dir / "a.exe").substr(0, kStubBytes);
  auto info = ReadVersionInfo(image);
  ASSERT_TRUE(info);
  const std::pair<const char *, const char *> expected[] = {
      {"ProductName", "Acme Notes"},         {"ProductVersion", "2.5.1"},
      {"FileVersion", "2.5.1"},              {"CompanyName", "Acme Ltd"},
      {"FileDescription", "Acme Notes Setup"}, {"LegalCopyright", "\u00a9 2026 Acme Ltd"}};
  for (const auto &string : expected) {
    ASSERT_TRUE(info->Find(string.first)) << string.first;
    EXPECT_EQ(info->Find(string.first)->value, string.second) << string.first;
  }
  EXPECT_NE(image.find(std::string("\xA9\0 \0" "2\0", 6)), std::string::npos) << "not UTF-16";
  EXPECT_EQ(info->fileVersion, (std::array<uint16_t, 4>{2, 5, 1, 0}));
  EXPECT_EQ(info->productVersion, (std::array<uint16_t, 4>{2, 5, 1, 0}));
  // Nothing else of the stub moved, and its checksum was made again.
  EXPECT_EQ(vantrel_pack::StubHash(image), vantrel_pack::StubHash(original));
  // The image checksum as Microsoft defines it: 16-bit words summed with
  // their carries folded back, the field itself counted as zero, plus the
  // file's length.
  const size_t checksum = Le(original, 0x3C, 4) + 24 + 64;
  uint32_t sum = 0;
  for (size_t at = 0; at < image.size(); at += 2) {
    if (at != checksum && at != checksum + 2) sum += Le(image, at, 2);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  EXPECT_EQ(Le(image, checksum, 4), sum + image.size()) << "the image checksum is stale";
  EXPECT_NE(Le(image, checksum, 4), Le(original, checksum, 4));
  ASSERT_EQ(Run({"inspect", (dir / "a.exe").string()}), 0);
  EXPECT_NE(out.str().find("version info        file 2.5.1.0, product 2.5.1.0"),
            std::string::npos) << out.str();
  EXPECT_NE(out.str().find("  CompanyName       \"Acme Ltd\""), std::string::npos);
  ASSERT_EQ(Run({"inspect", "--json", (dir / "a.exe").string()}), 0);
  for (const char *phrase :
       {"\"executionLevel\": {\"level\": \"requireAdministrator\", \"default\": "
        "\"requireAdministrator\", \"reason\": \"the INF copies into dirid 16422",
        "\"fileVersion\": \"2.5.1.0\"", "\"LegalCopyright\": \"\u00a9 2026 Acme Ltd\""}) {
    EXPECT_NE(out.str().find(phrase), std::string::npos) << phrase << "\n" << out.str();
  }

  // The options win; a version that is not numbers stays text only.
  ASSERT_EQ(Create(dir / "b.exe", {"--stub", BuiltStub().string(), "--product-name", "Notes",
                                   "--product-version", "7.0 beta", "--company", "Other"}),
            0);
  EXPECT_NE(err.str().find("\"7.0 beta\" is not up to four dotted numbers"), std::string::npos)
      << err.str();
  info = ReadVersionInfo(ReadFile(dir / "b.exe").substr(0, kStubBytes));
  EXPECT_EQ(info->Find("ProductName")->value, "Notes");
  EXPECT_EQ(info->Find("FileVersion")->value, "7.0 beta");
  EXPECT_EQ(info->Find("CompanyName")->value, "Other");
  EXPECT_EQ(info->Find("FileDescription")->value, "Notes setup");
  EXPECT_EQ(info->fileVersion, (std::array<uint16_t, 4>{}));

  // A value longer than its slot names its option and the limit.
  const struct {
    std::vector<std::string> options;
    std::vector<const char *> phrases;
  } tooLong[] = {
      {{"--company", std::string(64, 'c')}, {"--company is 64", "at most 63"}},
      {{"--product-version", "1.2.3.4-" + std::string(16, 'r')}, {"--product-version", "23"}},
      {{"--title", std::string(80, 't')}, {"--title", "--description gives another", "79"}},
  };
  for (const auto &c : tooLong) {
    std::vector<std::string> options = {"--stub", BuiltStub().string()};
    options.insert(options.end(), c.options.begin(), c.options.end());
    EXPECT_EQ(Create(dir / "c.exe", options), 1) << c.options[0];
    for (const char *phrase : c.phrases) {
      EXPECT_NE(err.str().find(phrase), std::string::npos) << err.str();
    }
    EXPECT_FALSE(fs::exists(dir / "c.exe"));
  }
  EXPECT_EQ(Create(dir / "c.exe", {"--stub", BuiltStub().string(), "--company",
                                   std::string(63, 'c')}),
            0)
      << err.str();
  EXPECT_EQ(Create(dir / "c.exe", {"--company", "Acme"}), 1);  // the dummy stub has no slots
  EXPECT_NE(err.str().find("no version information"), std::string::npos) << err.str();
}

// inspect judges a package as the stub's loader does, and exits 1 exactly
// when the stub would refuse it (or it is no package at all).
TEST_F(PackTest, InspectJudgesPackagesAsTheStubLoadsThem) {
  using testing_support::BuildPackage;
  using testing_support::PackageContents;
  const std::string image = ReadFile(stub);
  PackageContents base;
  base.archive = testing_support::BuildZip({Stored("setup.inf", kEmptyInf)});
  PackageContents negative = base, lowest = base, emptySplit = base, password = base;
  PackageContents pastEnd = base;
  negative.welcomeLength = -5;
  lowest.licenceLength = INT32_MIN;
  emptySplit.multiPart = true;
  emptySplit.totalSize = 0;
  password.storedPassword = "visible";
  pastEnd.welcome = std::string(500, 'w');
  auto bytes = [](const PackageContents &c) { return testing_support::ToString(BuildPackage(c)); };
  std::string badEnd = bytes(base);
  badEnd[badEnd.rfind("PK\x05\x06") + 1] ^= 0x20;
  struct Case {
    const char *what;
    std::string package;  // empty: no file at all
    int status;
    std::vector<const char *> phrases;  // in stdout and stderr
  } cases[] = {
      {"welcome length -5", bytes(negative), 0, {"\"archiveBase\": 35362", "\"warnings\": []"}},
      {"licence length -2^31", bytes(lowest), 0, {"\"archiveBase\": 35362", "\"warnings\": []"}},
      {"stored password", bytes(password), 0, {"\"storedPassword\": \"visible\"", "anyone can read"}},
      {"split, total size 0", bytes(emptySplit), 1, {"no local header"}},
      {"end record damaged", badEnd, 1, {"the stub will call this package corrupted"}},
      {"text past the end", bytes(pastEnd).substr(0, kStubBytes + 100), 1, {"runs past the end"}},
      {"header cut short", image + std::string("ZEP\0\x05\x09", 6), 1,
       {"ends inside the header", "\"totalSize\": 0", "\"title\": \"\"", "failed"}},
      {"no header", image + "no header here", 1, {"no package header"}},
      {"no file", "", 1, {"cannot"}},
  };
  for (const Case &c : cases) {
    fs::remove(dir / "p.exe");
    if (!c.package.empty()) WriteFile(dir / "p.exe", c.package);
    EXPECT_EQ(Run({"inspect", "--json", (dir / "p.exe").string()}), c.status) << c.what;
    for (const char *phrase : c.phrases) {
      EXPECT_NE((out.str() + err.str()).find(phrase), std::string::npos)
          << c.what << ": " << out.str() << err.str();
    }
  }
}

TEST_F(PackTest, FolderMembersDeflateBackToTheFiles) {
  ASSERT_EQ(Create(dir / "out.exe", {"--level", "9"}), 0) << err.str();
  PackageView view = ReadPackage((dir / "out.exe").string());
  vantrel_pack::ArchiveWalk walk = vantrel_pack::WalkPackage(view);
  ASSERT_EQ(walk.members.size(), 3u);
  EXPECT_TRUE(walk.endedNormally());
  EXPECT_TRUE(vantrel_pack::WalkWarnings(walk).empty());
  std::string file = ReadFile(dir / "out.exe");
  const char *names[] = {"readme.txt", "setup.inf", "sub/data.bin"};
  for (size_t i = 0; i < 3; ++i) {
    const vantrel_pack::WalkedMember &m = walk.members[i];
    EXPECT_EQ(m.name, names[i]);
    EXPECT_EQ(m.method, 8);
    EXPECT_FALSE(m.encrypted());
    EXPECT_FALSE(m.hasDescriptor());
    std::string content = ReadFile(source / names[i]);
    EXPECT_EQ(m.crc, Crc(content));
    EXPECT_EQ(m.uncompressedSize, content.size());
    size_t data = size_t(m.offset) + 30 + m.nameLength + m.extraLength;
    EXPECT_EQ(Inflate(file.substr(data, m.compressedSize), content.size()), content);
  }
}

TEST_F(PackTest, LevelZeroStores) {
  ASSERT_EQ(Create(dir / "out.exe", {"--level", "0"}), 0) << err.str();
  PackageView view = ReadPackage((dir / "out.exe").string());
  vantrel_pack::ArchiveWalk walk = vantrel_pack::WalkPackage(view);
  ASSERT_EQ(walk.members.size(), 3u);
  for (const auto &m : walk.members) {
    EXPECT_EQ(m.method, 0) << m.name;
    EXPECT_EQ(m.compressedSize, m.uncompressedSize);
  }
}

TEST_F(PackTest, ZipSourceIsAppendedByteForByte) {
  std::string zip = Zip({Stored("setup.inf", kEmptyInf), Stored("a/b.txt", "hello")});
  WriteFile(dir / "in.zip", zip);
  ASSERT_EQ(Create(dir / "out.exe", {"--title", "Z"}, dir / "in.zip"), 0) << err.str();
  std::string file = ReadFile(dir / "out.exe");
  PackageView view = ReadPackage((dir / "out.exe").string());
  EXPECT_EQ(file.substr(size_t(view.archiveBase)), zip);
  EXPECT_EQ(view.header.totalSize, int32_t(file.size()));
  vantrel_pack::ArchiveWalk walk = vantrel_pack::WalkPackage(view);
  ASSERT_EQ(walk.members.size(), 2u);
  EXPECT_EQ(walk.members[1].name, "a/b.txt");
}

// 7-Zip and Info-ZIP flag non-ASCII names as UTF-8 (bit 11); the stub
// creates names in the package's code page. Before, such a package was made
// without a word and installed "CafÃ© Menu.txt", and the INF's "Café Menu.txt"
// was called missing.
TEST_F(PackTest, Utf8FlaggedNamesGoInInTheCodePageOrAreRefused) {
  auto utf8 = [](const std::string &name, const std::string &data, bool descriptor) {
    ZipMember member = Stored(name, data);
    member.flags = 0x0800;
    member.descriptor = descriptor;
    return member;
  };
  // The INF, in code page 1252, copies "Café Menu.txt".
  std::string inf = kFolderInf;
  for (size_t at; (at = inf.find("readme.txt")) != std::string::npos;) {
    inf.replace(at, 10, "\"Caf\xE9 Menu.txt\"");
  }
  std::vector<ZipMember> members = {Stored("setup.inf", inf),
                                    utf8("Caf\xC3\xA9 Menu.txt", "menu", true),
                                    utf8("sub/data.bin", "data", false)};
  WriteFile(dir / "in.zip", Zip(members));
  ASSERT_EQ(Create(dir / "out.exe", {}, dir / "in.zip"), 0) << err.str();
  EXPECT_EQ(err.str().find("error"), std::string::npos) << err.str();
  PackageView view = ReadPackage((dir / "out.exe").string());
  vantrel_pack::ArchiveWalk walk = vantrel_pack::WalkPackage(view);
  ASSERT_EQ(walk.members.size(), 3u);
  EXPECT_EQ(walk.members[1].name, "Caf\xE9 Menu.txt");
  EXPECT_EQ(walk.members[1].flags & 0x0800, 0);
  ASSERT_EQ(Run({"test", (dir / "out.exe").string()}), 0) << out.str() << err.str();
  ASSERT_EQ(Run({"inspect", (dir / "out.exe").string()}), 0);
  EXPECT_NE(out.str().find("Caf\xC3\xA9 Menu.txt"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("warnings            0"), std::string::npos) << out.str();

  members.push_back(utf8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "nihongo", false));
  WriteFile(dir / "in.zip", Zip(members));
  EXPECT_EQ(Create(dir / "new.exe", {}, dir / "in.zip"), 1);
  for (const char *phrase : {"the member \"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt\"",
                             "the character \"\xE6\x97\xA5\"", "code page 1252", "--codepage"}) {
    EXPECT_NE(err.str().find(phrase), std::string::npos) << phrase << err.str();
  }
  EXPECT_FALSE(fs::exists(dir / "new.exe"));

  // Info-ZIP 3.0 writes UTF-8 names without the flag: refused, naming the
  // option that reads them as UTF-8; a name in the code page goes in.
  WriteFile(dir / "unmarked.zip", Zip({Stored("setup.inf", kEmptyInf), Stored("Caf\xC3\xA9", "")}));
  ASSERT_EQ(Create(dir / "unmarked.exe", {}, dir / "unmarked.zip"), 1);
  EXPECT_NE(err.str().find("\"Caf\xC3\x83\xC2\xA9\" is named in UTF-8"), std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find("--utf8-names"), std::string::npos) << err.str();
  ASSERT_EQ(Create(dir / "unmarked.exe", {"--utf8-names"}, dir / "unmarked.zip"), 0) << err.str();
  EXPECT_EQ(vantrel_pack::WalkPackage(view = ReadPackage((dir / "unmarked.exe").string()))
                .members[1]
                .name,
            "Caf\xE9");
  WriteFile(dir / "ansi.zip", Zip({Stored("setup.inf", kEmptyInf), Stored("Caf\xE9", "")}));
  ASSERT_EQ(Create(dir / "ansi.exe", {}, dir / "ansi.zip"), 0) << err.str();
  EXPECT_EQ(err.str().find("UTF-8"), std::string::npos) << err.str();
}

// Zipping a folder from outside it puts every file in that folder; the
// stub finds no INF at the top. The error says so and how to go on.
TEST_F(PackTest, AZipOfOneFolderGoesInWithoutItWhenAsked) {
  WriteFile(dir / "in.zip", Zip({Stored("App/", ""), Stored("App/setup.inf", kEmptyInf),
                                 Stored("app/docs/readme.txt", "read me")}));
  EXPECT_EQ(Create(dir / "out.exe", {}, dir / "in.zip"), 1);
  for (const char *phrase : {"no .inf file at the top", "in its folder App/", "--strip-top-folder"}) {
    EXPECT_NE(err.str().find(phrase), std::string::npos) << phrase << err.str();
  }
  ASSERT_EQ(Create(dir / "out.exe", {"--strip-top-folder"}, dir / "in.zip"), 0) << err.str();
  PackageView view = ReadPackage((dir / "out.exe").string());
  EXPECT_EQ(view.texts.infName, "setup.inf");
  vantrel_pack::ArchiveWalk walk = vantrel_pack::WalkPackage(view);
  ASSERT_EQ(walk.members.size(), 2u);
  EXPECT_EQ(walk.members[1].name, "docs/readme.txt");
  ASSERT_EQ(Run({"test", (dir / "out.exe").string()}), 0) << out.str() << err.str();
  // A folder SOURCE is pointed at the folder inside; a zip with two top
  // folders has nothing to strip.
  WriteFile(dir / "outer" / "App" / "setup.inf", kEmptyInf);
  EXPECT_EQ(Create(dir / "out.exe", {}, dir / "outer"), 1);
  EXPECT_NE(err.str().find((dir / "outer" / "App").string() + " as SOURCE"), std::string::npos)
      << err.str();
  WriteFile(dir / "two.zip", Zip({Stored("App/setup.inf", kEmptyInf), Stored("Lib/a.dll", "")}));
  EXPECT_EQ(Create(dir / "out.exe", {"--strip-top-folder"}, dir / "two.zip"), 1);
  EXPECT_NE(err.str().find("not all lie in one folder"), std::string::npos) << err.str();
}

TEST_F(PackTest, ZipWithDescriptorsButSizesIsAccepted) {
  ZipMember member = Stored("setup.inf", kEmptyInf);
  member.descriptor = true;
  WriteFile(dir / "in.zip", Zip({member, Stored("x.txt", "x")}));
  ASSERT_EQ(Create(dir / "out.exe", {}, dir / "in.zip"), 0) << err.str();
  ASSERT_EQ(Run({"inspect", "--json", (dir / "out.exe").string()}), 0);
  EXPECT_NE(out.str().find("\"dataDescriptor\": true"), std::string::npos);
  EXPECT_NE(out.str().find("\"warnings\": []"), std::string::npos) << out.str();
}

TEST_F(PackTest, ZipWithBytesAfterItsEndNeedsSkipCheck) {
  WriteFile(dir / "in.zip", Zip({Stored("setup.inf", kEmptyInf)}) + "trailing");
  EXPECT_EQ(Create(dir / "out.exe", {}, dir / "in.zip"), 1);
  EXPECT_NE(err.str().find("integrity"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(dir / "out.exe"));
  ASSERT_EQ(Create(dir / "out.exe", {"--skip-check"}, dir / "in.zip"), 0) << err.str();
  ASSERT_EQ(Run({"inspect", (dir / "out.exe").string(), "--json"}), 0);
  EXPECT_NE(out.str().find("not checked by the stub (skipIntegrityCheck)"), std::string::npos);
  EXPECT_NE(out.str().find("\"passes\": false"), std::string::npos);
}

}  // namespace
}  // namespace pack_test

namespace pack_test {
namespace {

bool HaveTool(const char *probe) { return std::system(probe) == 0; }

// Archives from the usual zip tools, folder entries and extra fields
// included, go in unchanged and walk without a warning.
TEST_F(PackTest, ArchivesFromZipToolsRoundTrip) {
  struct Tool {
    const char *probe;
    std::string command;
  };
  const std::string in = (dir / "tool.zip").string();
  const Tool tools[] = {
      {"zip -v >/dev/null 2>&1", "cd '" + source.string() + "' && zip -qr '" + in + "' ."},
      {"7z >/dev/null 2>&1",
       "cd '" + source.string() + "' && 7z a -tzip '" + in + "' . >/dev/null"},
      {"7z >/dev/null 2>&1",
       "cd '" + source.string() + "' && 7z a -tzip -mem=ZipCrypto -pabc '" + in + "' . >/dev/null"},
  };
  int ran = 0;
  for (const Tool &tool : tools) {
    if (!HaveTool(tool.probe)) continue;
    ++ran;
    fs::remove(in);
    ASSERT_EQ(std::system(tool.command.c_str()), 0) << tool.command;
    ASSERT_EQ(Create(dir / "out.exe", {}, in), 0) << tool.command << ": " << err.str();
    vantrel_pack::PackageView view = ReadPackage((dir / "out.exe").string());
    EXPECT_EQ(ReadFile(dir / "out.exe").substr(size_t(view.archiveBase)), ReadFile(in));
    vantrel_pack::ArchiveWalk walk = vantrel_pack::WalkPackage(view);
    EXPECT_TRUE(vantrel_pack::WalkWarnings(walk).empty()) << tool.command;
    size_t files = 0;
    for (const auto &m : walk.members) files += m.isFolder() ? 0 : 1;
    EXPECT_EQ(files, 3u) << tool.command;
  }
  if (ran == 0) GTEST_SKIP() << "neither zip nor 7z is installed";
}

// ---- signed packages ---------------------------------------------------------

std::string Signed(const std::string &package,
                   const testing_support::SignatureLayout &layout = {}) {
  testing_support::Bytes bytes(package.begin(), package.end());
  bytes = testing_support::SignPackage(bytes, layout);
  return std::string(bytes.begin(), bytes.end());
}

// Inspect says where a signature lies and what the stub makes of it, never
// whether it is valid; create lays split packages out so that the program
// file can be signed, and the parts then read back without the signature.
TEST_F(PackTest, SignedPackagesAreReadAsTheStubReadsThem) {
  ASSERT_EQ(Create(dir / "setup.exe", {}), 0) << err.str();
  std::string package = ReadFile(dir / "setup.exe");
  std::string signedPackage = Signed(package);
  const size_t tableStart = (package.size() + 7) / 8 * 8;
  const size_t tableSize = signedPackage.size() - tableStart;
  WriteFile(dir / "signed.exe", signedPackage);
  ASSERT_EQ(Run({"inspect", (dir / "signed.exe").string()}), 0) << err.str();
  std::string text = out.str();
  EXPECT_NE(text.find("signature           signed: certificate table at offset " +
                      std::to_string(tableStart) + ", " + std::to_string(tableSize) + " bytes"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("(validity not judged here"), std::string::npos);
  EXPECT_NE(text.find("integrity check     passed (the archive's end record reaches the "
                      "certificate table)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("warnings            0"), std::string::npos) << text;
  ASSERT_EQ(Run({"inspect", "--json", (dir / "signed.exe").string()}), 0);
  EXPECT_NE(out.str().find("\"signature\": {\"tableOffset\": " + std::to_string(tableStart) +
                           ", \"tableSize\": " + std::to_string(tableSize) +
                           ", \"acceptedByStub\": true"),
            std::string::npos)
      << out.str();
  ASSERT_EQ(Run({"inspect", "--json", (dir / "setup.exe").string()}), 0);
  EXPECT_NE(out.str().find("\"signature\": null"), std::string::npos);

  // Damage after signing: the warning says that the stub will refuse it, and why.
  testing_support::SignatureLayout appended;
  appended.appended = testing_support::ToBytes("junk");
  WriteFile(dir / "appended.exe", Signed(package, appended));
  std::string changed = signedPackage;
  changed[kStubBytes + 100] ^= 0x20;
  WriteFile(dir / "changed.exe", changed);
  for (const char *name : {"appended.exe", "changed.exe"}) {
    ASSERT_EQ(Run({"inspect", (dir / name).string()}), 1);
    EXPECT_NE(out.str().find("warning: the stub will call this package corrupted: the image"),
              std::string::npos)
        << name << ": " << out.str();
  }

  // A split package: only the program file is signed, and the stub's rebuild
  // leaves its table out.
  WriteFile(source / "big.bin", Noise(100000, 11));
  ASSERT_EQ(Create(dir / "split.exe", {"--level", "0", "--split", "40k"}), 0) << err.str();
  std::string first = ReadFile(dir / "split.exe");
  WriteFile(dir / "split.exe", Signed(first));
  PackageView view = ReadPackage((dir / "split.exe").string());
  EXPECT_EQ(view.signature, kCertificatesInPlace);
  EXPECT_EQ(view.end, kEndInParts);
  EXPECT_EQ(view.bytes->Size(), uint64_t(view.header.totalSize));
  ASSERT_EQ(Run({"inspect", (dir / "split.exe").string()}), 0);
  EXPECT_NE(out.str().find("integrity check     passed"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("warnings            0"), std::string::npos) << out.str();
  ASSERT_EQ(Run({"extract", (dir / "split.exe").string(), "-d", (dir / "x").string()}), 0)
      << err.str();
  EXPECT_EQ(ReadFile(dir / "x" / "big.bin"), ReadFile(source / "big.bin"));
}

// ---- reproducible packages --------------------------------------------------

// One run of create as another machine would make it: its own working
// folder, time zone and umask, and SOURCE_DATE_EPOCH set or not.
class Reproducible : public PackTest {
 protected:
  void TearDown() override {
    if (!savedTz.empty())
      setenv("TZ", savedTz.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    unsetenv("SOURCE_DATE_EPOCH");
    umask(savedMask);
    fs::current_path(savedCwd);
    PackTest::TearDown();
  }

  // The same files in a new folder, written in the order given.
  fs::path Source(const std::string &name, bool reversed) {
    std::vector<std::pair<std::string, std::string>> files = {
        {"setup.inf", kEmptyInf},
        {"docs/read me.txt", std::string(3000, 'r')},
        {"bin/data.bin", Noise(70000, 9)},
        {"bin/empty.dat", ""},
        {"a.txt", "first by name"}};
    if (reversed) std::reverse(files.begin(), files.end());
    fs::path folder = dir / name;
    for (const auto &file : files) WriteFile(folder / file.first, file.second);
    return folder;
  }

  static void SetModified(const fs::path &folder, time_t when) {
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file()) continue;
      struct timespec times[2] = {{when, 0}, {when, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, entry.path().c_str(), times, 0), 0);
    }
  }

  std::string CreateAs(const std::string &machine, const char *tz, mode_t mask,
                       const fs::path &from, const std::vector<std::string> &options) {
    fs::create_directories(dir / machine);
    fs::current_path(dir / machine);
    setenv("TZ", tz, 1);
    tzset();
    umask(mask);
    // The built stub: what create writes into it must come out the same too.
    std::vector<std::string> all = {"--level", "9", "--title", "Same", "--welcome", "Hello",
                                    "--stub", BuiltStub().string(), "--product-version", "1.2",
                                    "--company", "Same Ltd", "--copyright", "\u00a9 Same"};
    all.insert(all.end(), options.begin(), options.end());
    EXPECT_EQ(Create("setup.exe", all, from), 0) << err.str();
    return ReadFile(dir / machine / "setup.exe");
  }

  std::string savedTz = getenv("TZ") ? getenv("TZ") : "";
  mode_t savedMask = umask(022);
  fs::path savedCwd = fs::current_path();
};

TEST_F(Reproducible, SameInputsGiveTheSameBytesAnywhereAndAnyTime) {
  fs::path first = Source("first", false);
  fs::path second = Source("second", true);  // another order on disk
  fs::permissions(second / "a.txt", fs::perms::owner_read | fs::perms::owner_write);
  SetModified(first, 1500000000);
  SetModified(second, 1500000000);
  std::string one = CreateAs("machine1", "UTC0", 022, first, {});
  // DOS times count in two seconds: anything taken from the clock would show.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  std::string two = CreateAs("machine2", "XYZ-12:45", 077, second, {});
  EXPECT_EQ(one.size(), two.size());
  EXPECT_TRUE(one == two) << "the packages differ";

  // With SOURCE_DATE_EPOCH the files' own times no longer need to agree, and
  // encrypted members come out the same too.
  const time_t epoch = 1600000000;
  setenv("SOURCE_DATE_EPOCH", std::to_string(epoch).c_str(), 1);
  SetModified(first, 1700000000);
  SetModified(second, time(nullptr));
  one = CreateAs("machine1", "UTC0", 022, first, {"--password", "secret"});
  two = CreateAs("machine2", "XYZ-12:45", 077, second, {"--password", "secret"});
  EXPECT_TRUE(one == two) << "the encrypted packages differ";
  PackageView view = ReadPackage((dir / "machine2" / "setup.exe").string());
  vantrel_pack::ArchiveWalk walk = vantrel_pack::WalkPackage(view);
  ASSERT_EQ(walk.members.size(), 5u);
  uint16_t epochTime = 0, epochDate = 0;
  vantrel_pack::DosDateTime(epoch, epochTime, epochDate);
  EXPECT_EQ(epochDate, (2020 - 1980) << 9 | 9 << 5 | 13);  // 2020-09-13 12:26:40 UTC
  EXPECT_EQ(epochTime, 12 << 11 | 26 << 5 | 40 / 2);
  for (const auto &m : walk.members) {
    EXPECT_TRUE(m.encrypted()) << m.name;
    // Every file is newer than the epoch: every time is clamped to it.
    EXPECT_EQ(m.dosDate, epochDate) << m.name;
    EXPECT_EQ(m.dosTime, epochTime) << m.name;
  }

  // Without it an encrypted package gets fresh random bytes every time.
  unsetenv("SOURCE_DATE_EPOCH");
  one = CreateAs("machine1", "UTC0", 022, first, {"--password", "secret"});
  two = CreateAs("machine2", "UTC0", 022, first, {"--password", "secret"});
  EXPECT_EQ(one.size(), two.size());
  EXPECT_FALSE(one == two);

  setenv("SOURCE_DATE_EPOCH", "yesterday", 1);
  EXPECT_EQ(Create(dir / "bad.exe", {}, first), 1);
  EXPECT_NE(err.str().find("SOURCE_DATE_EPOCH"), std::string::npos) << err.str();
}

// The derivation of reproducible encryption headers rests on it.
TEST(Sha256, GivesTheStandardsDigests) {
  auto hex = [](const std::string &text, size_t chunk) {
    vantrel_pack::Sha256 hash;
    for (size_t at = 0; at < text.size(); at += chunk) hash.Add(text.substr(at, chunk));
    std::string out;
    for (uint8_t b : hash.Finish())
      out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
    return out;
  };
  EXPECT_EQ(hex("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(hex(twoBlocks, 7), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(hex(std::string(1000000, 'a'), 4096),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_F(PackTest, LevelIsReportedAsUselessForAZipSource) {
  WriteFile(dir / "in.zip", Zip({Stored("setup.inf", kEmptyInf)}));
  ASSERT_EQ(Create(dir / "out.exe", {"--level", "6"}, dir / "in.zip"), 0) << err.str();
  EXPECT_NE(err.str().find("--level"), std::string::npos);
  ASSERT_EQ(Create(dir / "out.exe", {}, dir / "in.zip"), 0) << err.str();
  EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace pack_test
