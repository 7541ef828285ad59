// `vantrel-pack extract`: the stub's loader and walk on the build machine.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "commands/commands.h"
#include "support/package_builder.h"
#include "support/host_machine.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

class ExtractTool : public HostMachine {
 protected:
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "extract");
    out_.str("");
    err_.str("");
    return vantrel_pack::PackMain(args, out_, err_);
  }
  std::string Package(const Bytes &archive, bool corrupt = false) {
    PackageContents contents;
    contents.archive = archive;
    Bytes package = BuildPackage(contents);
    if (corrupt) package.resize(package.size() - 10);
    HostMachine::WriteFile("in/setup.exe", package);
    return Posix("in/setup.exe");
  }
  // DIR as the status lines name it: its real path.
  std::string Shown(const std::string &posix) { return fs::canonical(posix).string(); }
  std::ostringstream out_, err_;
};

TEST_F(ExtractTool, ExtractsIntoDirNamingEachMember) {
  std::string pkg = Package(
      BuildZip({{"setup.inf", ToBytes("[Version]")}, {"sub/data.bin", Bytes(70000, 7), 8}}));
  std::string dir = Posix("out/new");  // made by the tool
  EXPECT_EQ(0, Run({pkg, "-d", dir}));
  EXPECT_EQ(ToBytes("[Version]"), ReadBytes(dir + "/setup.inf"));
  EXPECT_EQ(Bytes(70000, 7), ReadBytes(dir + "/sub/data.bin"));
  std::string w = Shown(dir);
  EXPECT_NE(std::string::npos, out_.str().find("extracting: " + w + "/setup.inf\n")) << out_.str();
  EXPECT_NE(std::string::npos, out_.str().find("inflating: " + w + "/sub/data.bin\n"));
  EXPECT_EQ("", err_.str());
  EXPECT_EQ(0, Run({pkg, "-d", dir, "--quiet"}));
  EXPECT_EQ("", out_.str() + err_.str());
  // Nothing else beside DIR: no rebuilt package, no temporary folder.
  EXPECT_EQ((std::vector<std::string>{"setup.inf", "sub", "sub/data.bin"}), [&] {
    std::vector<std::string> t;
    for (auto &e : fs::recursive_directory_iterator(dir)) t.push_back(fs::relative(e, dir));
    std::sort(t.begin(), t.end());
    return t;
  }());
}

// Whatever the stub would not extract fails with exit status 1 and the
// reason on stderr in the tool's words; what it could not open is not in DIR.
TEST_F(ExtractTool, FailuresNameTheReasonAndExtractNothingOfIt) {
  ZipMember bad{"bad.txt", ToBytes("payload")};
  bad.crc = 1;
  ZipMember secret{"s.txt", ToBytes("secret text"), 8};
  secret.password = "pw";
  PackageContents split;
  split.multiPart = true;
  split.title = "Parts";
  split.archive = BuildZip({{"a.txt", ToBytes("from two parts")}});
  Bytes whole = BuildPackage(split);
  struct Case {
    const char *what;
    std::function<std::string()> package;
    std::vector<std::string> options;
    const char *phrase;
    const char *file;  // in DIR, that must not be there
  } cases[] = {
      {"crc", [&] { return Package(BuildZip({bad})); }, {}, "member 1 \"bad.txt\": its data are damaged", nullptr},
      {"corrupt", [&] { return Package(BuildZip({{"a.txt", ToBytes("a")}}), true); }, {}, "corrupted", "a.txt"},
      {"wrong password", [&] { return Package(BuildZip({secret})); }, {"--password", "wrong"},
       "no password given opens it", "s.txt"},
      // 表 is 95 5C in code page 932: the stub would make a folder "\x95".
      {"double-byte name", [&] { return Package(BuildZip({{"\x95\x5C\x8E\xA6.txt", ToBytes("x")}})); },
       {"--codepage", "932"}, "\"\u8868\" (bytes 95 5C) ends in the byte of", "\x95"},
      {"part missing", [&] {
         HostMachine::WriteFile("in/setup.exe", Bytes(whole.begin(), whole.end() - 30));
         return Posix("in/setup.exe");
       }, {}, "setup.001 is missing: the stub would ask for disk 2", "a.txt"},
      // A pipe where a part should be: opening it for reading would wait
      // for a writer for ever.
      {"pipe for a part", [&] {
         HostMachine::WriteFile("in/setup.exe", Bytes(whole.begin(), whole.end() - 30));
         mkfifo(Posix("in/setup.001").c_str(), 0644);
         return Posix("in/setup.exe");
       }, {}, "setup.001 is missing", "a.txt"},
  };
  for (const Case &c : cases) {
    fs::remove_all(Posix("in"));
    std::vector<std::string> args = {c.package(), "-d", Posix("out")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    EXPECT_EQ(1, Run(args)) << c.what;
    EXPECT_NE(std::string::npos, err_.str().find(c.phrase)) << c.what << ": " << err_.str();
    if (c.file) {
      EXPECT_FALSE(fs::exists(Posix("out/") + c.file)) << c.what;
    }
  }
  EXPECT_EQ(1, Run({Posix("in/setup.001"), "-d", Posix("out")}));
  EXPECT_NE(std::string::npos, err_.str().find("not a regular file")) << err_.str();
  if (isatty(0)) return;  // without a terminal no password is asked for
  EXPECT_EQ(1, Run({Package(BuildZip({secret})), "-d", Posix("out")}));
  EXPECT_NE(std::string::npos, err_.str().find("no password given opens it")) << err_.str();
}

TEST_F(ExtractTool, PasswordOptionAnswersThePrompt) {
  ZipMember m{"s.txt", ToBytes("secret text"), 8};
  m.password = "pw";
  std::string pkg = Package(BuildZip({m}));
  EXPECT_EQ(0, Run({pkg, "-d", Posix("out"), "--password", "pw"}));
  EXPECT_EQ(ToBytes("secret text"), ReadBytes(Posix("out/s.txt")));
}

TEST_F(ExtractTool, PackageInPartsIsRebuiltOutsideDir) {
  PackageContents contents;
  contents.multiPart = true;
  contents.archive = BuildZip({{"a.txt", ToBytes("from two parts")}});
  Bytes whole = BuildPackage(contents);
  size_t cut = whole.size() - 30;
  HostMachine::WriteFile("in/setup.exe", Bytes(whole.begin(), whole.begin() + long(cut)));
  HostMachine::WriteFile("in/setup.001", Bytes(whole.begin() + long(cut), whole.end()));
  // A user's file where the stub would keep its rebuilt package.
  HostMachine::WriteFile("out/$Vantrel.Tmp/Vantrel.pkg", ToBytes("mine"));
  EXPECT_EQ(0, Run({Posix("in/setup.exe"), "-d", Posix("out")}));
  EXPECT_EQ(ToBytes("mine"), ReadBytes(Posix("out/$Vantrel.Tmp/Vantrel.pkg")));
  EXPECT_EQ(ToBytes("from two parts"), ReadBytes(Posix("out/a.txt")));
  EXPECT_EQ(2, std::distance(fs::directory_iterator(Posix("out")), fs::directory_iterator()));
}

// DIR is the only place extract writes: its name is never parsed as a
// Windows path, links planted in it are not followed, the rebuild of a split
// package goes to a scratch folder of its own, and the package itself is
// never overwritten.
TEST_F(ExtractTool, DirWhoseNameHoldsBackslashesIsUsedAsItIs) {
  std::string pkg = Package(BuildZip({{"a.txt", ToBytes("inside")}}));
  fs::create_directories(Posix("deep/er"));
  std::string dir = Posix("deep/er/out\\..\\..\\escaped");
  EXPECT_EQ(0, Run({pkg, "-d", dir}));
  EXPECT_EQ(ToBytes("inside"), ReadBytes(dir + "/a.txt"));
  EXPECT_FALSE(fs::exists(Posix("escaped")));
  EXPECT_FALSE(fs::exists(Posix("deep/escaped")));
}

TEST_F(ExtractTool, LinksPlantedInDirAreNeverFollowed) {
  std::string pkg = Package(
      BuildZip({{"a.txt", ToBytes("planted over")}, {"sub/b.txt", ToBytes("into elsewhere")}}));
  HostMachine::WriteFile("victim", ToBytes("victim"));
  MakeFolder("elsewhere");
  fs::create_directories(Posix("out"));
  fs::create_symlink("../victim", Posix("out/a.txt"));
  EXPECT_EQ(1, Run({pkg, "-d", Posix("out")}));
  EXPECT_EQ(ToBytes("victim"), ReadBytes(Posix("victim")));
  // The same for a folder: its link is refused before anything is written.
  std::string pkg2 = Package(BuildZip({{"sub/b.txt", ToBytes("into elsewhere")}}));
  fs::create_directories(Posix("out2"));
  fs::create_directory_symlink("../elsewhere", Posix("out2/sub"));
  EXPECT_EQ(1, Run({pkg2, "-d", Posix("out2")}));
  EXPECT_TRUE(fs::is_empty(Posix("elsewhere")));
}

TEST_F(ExtractTool, MemberNamedLikeThePackageIsRefusedBeforeAnythingIsWritten) {
  std::string pkg = Package(
      BuildZip({{"first.txt", ToBytes("first")}, {"setup.exe", ToBytes("not the package")}}));
  Bytes before = ReadBytes(pkg);
  EXPECT_EQ(1, Run({pkg, "-d", Posix("in")}));
  EXPECT_NE(std::string::npos, err_.str().find("would overwrite")) << err_.str();
  EXPECT_EQ(before, ReadBytes(pkg));
  EXPECT_FALSE(fs::exists(Posix("in/first.txt")));
  // The package reached by another name: a second link to it, or its own
  // name through a planted link to its folder.
  struct Way {
    const char *member;
    std::function<void(const std::string &dir)> plant;
  } ways[] = {
      {"copy.exe", [&](const std::string &dir) { fs::create_hard_link(pkg, dir + "/copy.exe"); }},
      {"via/setup.exe",
       [&](const std::string &dir) { fs::create_directory_symlink(Posix("in"), dir + "/via"); }},
  };
  int n = 0;
  for (const Way &way : ways) {
    std::string dir = Posix("other" + std::to_string(++n));
    fs::create_directories(dir);
    way.plant(dir);
    pkg = Package(BuildZip({{"first.txt", ToBytes("first")}, {way.member, ToBytes("not it")}}));
    before = ReadBytes(pkg);
    err_.str("");
    EXPECT_EQ(1, Run({pkg, "-d", dir})) << way.member;
    EXPECT_NE(std::string::npos, err_.str().find("would overwrite")) << way.member << err_.str();
    EXPECT_EQ(before, ReadBytes(pkg)) << way.member;
    EXPECT_FALSE(fs::exists(dir + "/first.txt")) << way.member;
  }
}

TEST_F(ExtractTool, UsageErrors) {
  EXPECT_EQ(2, Run({}));
  EXPECT_EQ(2, Run({"x.exe"}));
  EXPECT_EQ(2, Run({"x.exe", "-d", "o", "--bogus"}));
  EXPECT_EQ(1, Run({Posix("missing.exe"), "-d", Posix("o")}));
}

}  // namespace
