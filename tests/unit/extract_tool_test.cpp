// `vantrel-pack extract`: the stub's loader and walk on the build machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "commands.h"
#include "support/package_builder.h"
#include "support/scratch.h"

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
  // The Windows path the tool gives DIR: through Z:, the POSIX root.
  std::string Windows(const std::string &posix) {
    std::string path = "Z:" + fs::canonical(posix).string();
    for (char &c : path) c = c == '/' ? '\\' : c;
    return path;
  }
  std::ostringstream out_, err_;
};

TEST_F(ExtractTool, ExtractsIntoDirAndPrintsStatusLines) {
  std::string pkg = Package(
      BuildZip({{"setup.inf", ToBytes("[Version]")}, {"sub/data.bin", Bytes(70000, 7), 8}}));
  std::string dir = Posix("out/new");  // made by the tool
  EXPECT_EQ(0, Run({pkg, "-d", dir}));
  EXPECT_EQ(ToBytes("[Version]"), ReadBytes(dir + "/setup.inf"));
  EXPECT_EQ(Bytes(70000, 7), ReadBytes(dir + "/sub/data.bin"));
  std::string w = Windows(dir);
  EXPECT_EQ("  Extracting: " + w + "\\setup.inf\n  Extracting: " + w + "\\sub\\data.bin\n",
            out_.str());
  EXPECT_EQ("", err_.str());
  // Nothing else beside DIR: no rebuilt package, no temporary folder.
  EXPECT_EQ((std::vector<std::string>{"setup.inf", "sub", "sub/data.bin"}), [&] {
    std::vector<std::string> t;
    for (auto &e : fs::recursive_directory_iterator(dir)) t.push_back(fs::relative(e, dir));
    std::sort(t.begin(), t.end());
    return t;
  }());
}

TEST_F(ExtractTool, FailureIsExitStatusOneWithTheMessageOnStderr) {
  ZipMember bad{"bad.txt", ToBytes("payload")};
  bad.crc = 1;
  std::string pkg = Package(BuildZip({bad}));
  EXPECT_EQ(1, Run({pkg, "-d", Posix("out")}));
  EXPECT_EQ("Error: Error extracting file(s).\n", err_.str());
  EXPECT_EQ("  Extracting: " + Windows(Posix("out")) + "\\bad.txt\n", out_.str());
}

TEST_F(ExtractTool, CorruptPackageFailsThroughTheStubsOwnCheck) {
  std::string pkg = Package(BuildZip({{"a.txt", ToBytes("a")}}), /*corrupt=*/true);
  EXPECT_EQ(1, Run({pkg, "-d", Posix("out")}));
  EXPECT_EQ("Error: The setup file is corrupted. Please obtain a new copy of the program.\n",
            err_.str());
  EXPECT_FALSE(fs::exists(Posix("out/a.txt")));
}

TEST_F(ExtractTool, PasswordOptionAnswersThePrompt) {
  ZipMember m{"s.txt", ToBytes("secret text"), 8};
  m.password = "pw";
  std::string pkg = Package(BuildZip({m}));
  EXPECT_EQ(0, Run({pkg, "-d", Posix("out"), "--password", "pw"}));
  EXPECT_EQ(ToBytes("secret text"), ReadBytes(Posix("out/s.txt")));
  EXPECT_EQ(1, Run({pkg, "-d", Posix("out2"), "--password", "wrong"}));
  EXPECT_FALSE(fs::exists(Posix("out2/s.txt")));
}

TEST_F(ExtractTool, WithoutPasswordOrTerminalThePromptIsCancelled) {
  if (isatty(0)) GTEST_SKIP() << "standard input is a terminal";
  ZipMember m{"s.txt", ToBytes("secret text")};
  m.password = "pw";
  std::string pkg = Package(BuildZip({m}));
  EXPECT_EQ(1, Run({pkg, "-d", Posix("out")}));
  EXPECT_EQ("", err_.str());
  EXPECT_FALSE(fs::exists(Posix("out/s.txt")));
}

TEST_F(ExtractTool, PackageInPartsIsRebuiltBesideDirAndCleanedAway) {
  PackageContents contents;
  contents.multiPart = true;
  contents.title = "Parts";
  contents.archive = BuildZip({{"a.txt", ToBytes("from two parts")}});
  Bytes whole = BuildPackage(contents);
  size_t cut = whole.size() - 30;
  HostMachine::WriteFile("in/setup.exe", Bytes(whole.begin(), whole.begin() + long(cut)));
  HostMachine::WriteFile("in/setup.001", Bytes(whole.begin() + long(cut), whole.end()));
  std::string dir = Posix("out");
  EXPECT_EQ(0, Run({Posix("in/setup.exe"), "-d", dir}));
  EXPECT_EQ(ToBytes("from two parts"), ReadBytes(dir + "/a.txt"));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(dir), fs::directory_iterator()));

  // Without its second part: the disk prompt is cancelled, nothing is left.
  fs::remove(Posix("in/setup.001"));
  std::string dir2 = Posix("out2");
  EXPECT_EQ(1, Run({Posix("in/setup.exe"), "-d", dir2}));
  EXPECT_EQ(
      "Parts: Please insert disk with part number 2..\n"
      "Error: Error rebuilding this Setup package.\n",
      err_.str());
  EXPECT_TRUE(fs::is_empty(dir2));
}

TEST_F(ExtractTool, UsageErrors) {
  EXPECT_EQ(2, Run({}));
  EXPECT_EQ(2, Run({"x.exe"}));
  EXPECT_EQ(2, Run({"x.exe", "-d", "o", "--bogus"}));
  EXPECT_EQ(1, Run({Posix("missing.exe"), "-d", Posix("o")}));
}

}  // namespace
