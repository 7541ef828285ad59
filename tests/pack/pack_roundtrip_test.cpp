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
      {"cyrillic", {"--password", "\u043a\u043e\u0434", "--codepage", "1251"},
       {"--password", "\u043a\u043e\u0434", "--codepage", "1251"}},
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
