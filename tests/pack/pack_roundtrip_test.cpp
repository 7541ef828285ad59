// Packages from `create` extracted by the stub's own loader and walk
// (`extract`): what the stub reads back is exactly the source folder.
#include "pack_fixture.h"

namespace pack_test {
namespace {

class RoundTrip : public PackTest {
 protected:
  void ExpectSameTree(const fs::path &extracted) {
    size_t files = 0;
    for (const auto &entry : fs::recursive_directory_iterator(source)) {
      if (!entry.is_regular_file()) continue;
      ++files;
      fs::path relative = fs::relative(entry.path(), source);
      EXPECT_EQ(ReadFile(extracted / relative), ReadFile(entry.path())) << relative;
    }
    size_t extractedFiles = 0;
    for (const auto &entry : fs::recursive_directory_iterator(extracted)) {
      extractedFiles += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(extractedFiles, files);
  }
};

TEST_F(RoundTrip, TheStubExtractsEveryVariantCreateWrites) {
  WriteFile(source / "empty.txt", "");
  WriteFile(source / "sub" / "deeper" / "text.txt", std::string(70000, 'a'));
  struct Variant {
    const char *name;
    std::vector<std::string> options;
    std::vector<std::string> extractOptions;
  };
  const Variant variants[] = {
      {"deflated", {"--level", "9"}, {}},
      {"stored", {"--level", "0"}, {}},
      {"encrypted", {"--password", "open sesame"}, {"--password", "open sesame"}},
      {"encrypted-stored", {"--password", "pw", "--level", "0"}, {"--password", "pw"}},
      {"split", {"--split", "40k", "--password", "pw"}, {"--password", "pw"}},
      // Both sides type the password in the package's code page.
      {"accented", {"--password", "caf\u00e9"}, {"--password", "caf\u00e9"}},
      // The package records its code page: extract types in it unasked.
      {"cyrillic", {"--password", "\u043a\u043e\u0434", "--codepage", "1251"},
       {"--password", "\u043a\u043e\u0434"}},
  };
  for (const Variant &v : variants) {
    fs::path package = dir / (std::string(v.name) + ".exe");
    ASSERT_EQ(Create(package, v.options), 0) << v.name << ": " << err.str();
    fs::path target = dir / (std::string("x-") + v.name);
    std::vector<std::string> args = {"extract", package.string(), "-d", target.string()};
    args.insert(args.end(), v.extractOptions.begin(), v.extractOptions.end());
    ASSERT_EQ(Run(args), 0) << v.name << ": " << err.str() << out.str();
    ExpectSameTree(target);
  }
}

// A package in a code page other than 1252 is read in it by every command
// without being told again, and its names come out on this machine as
// Windows set up for that code page shows them.
TEST_F(RoundTrip, ThePackageKeepsItsCodePage) {
  const std::string folder = "\u65e5\u672c", file = "\u8a9e\u5f59.txt";  // Japanese
  WriteFile(source / folder / file, "kanji");
  ASSERT_EQ(Create(dir / "ja.exe", {"--codepage", "932", "--targets", "nt"}), 0) << err.str();
  ASSERT_EQ(Run({"extract", (dir / "ja.exe").string(), "-d", (dir / "x").string()}), 0)
      << err.str();
  ExpectSameTree(dir / "x");
  EXPECT_NE(out.str().find(folder + "/" + file), std::string::npos) << out.str();

  ASSERT_EQ(Run({"inspect", (dir / "ja.exe").string()}), 0) << err.str();
  for (const std::string &shown : {folder + "/" + file, std::string("932 (recorded"),
                                   std::string("Japanese"), std::string("as create was told")}) {
    EXPECT_NE(out.str().find(shown), std::string::npos) << shown << "\n" << out.str();
  }
  ASSERT_EQ(Run({"test", (dir / "ja.exe").string()}), 0) << err.str();
  EXPECT_NE(out.str().find(folder + "/" + file), std::string::npos) << out.str();
  // --codepage still wins, and a 1252 package with such bytes draws no warning.
  ASSERT_EQ(Run({"inspect", "--codepage", "1252", (dir / "ja.exe").string()}), 0);
  EXPECT_EQ(out.str().find("Japanese"), std::string::npos) << out.str();
}

TEST_F(RoundTrip, AWrongPasswordDoesNotExtract) {
  // A reproducible package: its encryption headers are fixed, so whether the
  // wrong password gets past a member's one-byte check is not left to chance
  // (it does one time in 256 with random headers, and the member then fails
  // only at its CRC).
  setenv("SOURCE_DATE_EPOCH", "1000000000", 1);
  int created = Create(dir / "enc.exe", {"--password", "right"});
  unsetenv("SOURCE_DATE_EPOCH");
  ASSERT_EQ(created, 0) << err.str();
  EXPECT_NE(Run({"extract", (dir / "enc.exe").string(), "-d", (dir / "x").string(), "--password",
                 "wrong"}),
            0);
  EXPECT_FALSE(fs::exists(dir / "x" / "sub" / "data.bin"));
  // A password the code page cannot write could never be typed.
  EXPECT_EQ(Run({"extract", (dir / "enc.exe").string(), "-d", (dir / "y").string(), "--password",
                 "\u043a\u043e\u0434"}),
            1);
  EXPECT_NE(err.str().find("code page 1252"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace pack_test
