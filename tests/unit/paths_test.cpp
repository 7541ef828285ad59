// Path operations: separators, existence tests, parent folders and the
// creation of folder chains.
#include "core/paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/text.h"
#include "support/host_machine.h"

using namespace testing_support;

namespace {

CountedString Str(const std::string &s) {
  CountedString c{};
  EXPECT_TRUE(AssignString(c, s.c_str()));
  return c;
}

std::string Parent(const std::string &path) {
  CountedString parent{};
  ParentFolder(Str(path), parent);
  EXPECT_EQ(std::string(parent.text).size(), parent.length);
  return parent.text;
}

TEST(ToBackslashes, TurnsEverySlash) {
  char text[] = "a/b\\c//d/";
  ToBackslashes(text);
  EXPECT_STREQ("a\\b\\c\\\\d\\", text);
}

TEST(ParentFolder, Examples) {
  EXPECT_EQ("C:\\T\\a", Parent("C:\\T\\a\\b.txt"));
  EXPECT_EQ("C:\\", Parent("C:\\b.txt"));
  EXPECT_EQ("C:", Parent("C:b.txt"));
  EXPECT_EQ("", Parent("b.txt"));
  EXPECT_EQ("C:\\T\\a", Parent("C:\\T\\a\\"));
  EXPECT_EQ("C:\\", Parent("C:\\"));
  EXPECT_EQ("C:/T", Parent("C:/T/x"));
  EXPECT_EQ("", Parent(""));
  EXPECT_EQ("\\", Parent("\\\\"));
  // A ':' inside a name stays, so the parent does not get shorter.
  EXPECT_EQ("C:\\T\\a:", Parent("C:\\T\\a:"));
}

class Paths : public HostMachine {
 protected:
  void SetUp() override {
    HostMachine::SetUp();
    PrepareProgram();
  }
  bool Exists(const std::string &windowsPath) {
    std::vector<char> text(windowsPath.begin(), windowsPath.end());
    text.push_back(0);
    return PathExists(text.data());
  }
};

TEST_F(Paths, PathExistsFindsFilesAndFolders) {
  WriteFile("d/f.txt", "x");
  MakeFolder("empty");
  EXPECT_TRUE(Exists("C:\\d\\f.txt"));
  EXPECT_TRUE(Exists("C:\\d"));
  EXPECT_TRUE(Exists("C:\\d\\"));
  EXPECT_TRUE(Exists("C:\\empty\\"));  // found through its "." entry
  EXPECT_FALSE(Exists("C:\\d\\g.txt"));
  EXPECT_FALSE(Exists("C:\\missing\\"));
  EXPECT_FALSE(Exists("C:\\d\\f.txt\\"));
}

TEST_F(Paths, PathExistsTurnsSlashesInPlaceUnlessThePathEndsInABackslash) {
  WriteFile("d/f.txt", "x");
  char path[] = "C:/d/f.txt";
  EXPECT_TRUE(PathExists(path));
  EXPECT_STREQ("C:\\d\\f.txt", path);
  char folder[] = "C:/d\\";
  EXPECT_TRUE(PathExists(folder));
  EXPECT_STREQ("C:/d\\", folder);
  // A folder written with a final '/' becomes one ending in '\' and finds nothing.
  char slashEnded[] = "C:/d/";
  EXPECT_FALSE(PathExists(slashEnded));
  EXPECT_STREQ("C:\\d\\", slashEnded);
}

TEST_F(Paths, WildcardsSearchAsWildcards) {
  WriteFile("d/abc.txt", "x");
  EXPECT_TRUE(Exists("C:\\d\\a*"));
  EXPECT_TRUE(Exists("C:\\d\\ab?.txt"));
  EXPECT_FALSE(Exists("C:\\d\\b*"));
  EXPECT_TRUE(Exists("C:\\d\\**A*.**T"));
  EXPECT_FALSE(Exists("C:\\d\\a*?c"));
  // A name of many stars that matches nothing (a crafted member's) is
  // answered at once, not after trying every way to share out the name.
  WriteFile("d/Vantrel.pkg", "x");
  EXPECT_FALSE(Exists("C:\\d\\" + std::string(60, '*') + "d"));
}

TEST_F(Paths, LongPathsEndingInABackslashNeverOverrun) {
  for (size_t n : {250u, 255u, 256u, 257u, 258u, 259u, 260u}) {
    std::string path = "C:\\" + std::string(n - 4, 'x') + "\\";
    ASSERT_EQ(n, path.size());
    std::vector<char> text(path.begin(), path.end());
    text.push_back(0);
    // Heap copy of exactly the path's size, so that a read or write past it
    // is caught by the address sanitizer.
    EXPECT_FALSE(PathExists(text.data())) << n;
    EXPECT_EQ(path, std::string(text.data()));
  }
}

TEST_F(Paths, CreateFolderPathMakesTheChainOutermostFirst) {
  MakeFolder("T");
  EXPECT_TRUE(CreateFolderPath(Str("C:\\T\\a\\b\\c")));
  EXPECT_TRUE(std::filesystem::is_directory(Posix("T/a/b/c")));
  EXPECT_TRUE(CreateFolderPath(Str("C:\\T\\a\\b\\c\\")));  // exists; trailing '\' dropped
  EXPECT_TRUE(CreateFolderPath(Str("C:\\T\\x/y")));
  EXPECT_TRUE(std::filesystem::is_directory(Posix("T/x/y")));
}

TEST_F(Paths, CreateFolderPathLeavesDrivesAndShortNamesAlone) {
  auto before = Tree();
  EXPECT_TRUE(CreateFolderPath(Str("")));
  EXPECT_TRUE(CreateFolderPath(Str("C:")));
  EXPECT_TRUE(CreateFolderPath(Str("C:\\")));
  EXPECT_TRUE(CreateFolderPath(Str("ab")));
  EXPECT_EQ(before, Tree());
}

TEST_F(Paths, ColonInsideAFolderNameEndsWithoutRecursingOrCreating) {
  MakeFolder("T");
  auto before = Tree();
  EXPECT_FALSE(CreateFolderPath(Str("C:\\T\\a:b\\c")));
  EXPECT_FALSE(CreateFolderPath(Str("C:\\T\\a:")));
  EXPECT_FALSE(CreateFolderPath(Str("x:y\\z")));
  EXPECT_EQ(before, Tree());
}

TEST_F(Paths, FolderThatCannotBeCreatedIsFatal) {
  host::FailCall("CreateDirectoryA", 5);
  int code = host::RunAsProcess([] {
    CreateFolderPath(Str("C:\\new"));
    return -1;
  });
  EXPECT_EQ(5, code);
  ASSERT_EQ(1u, host::MessageBoxes().size());
  EXPECT_EQ("Error", host::MessageBoxes()[0].caption);
  EXPECT_EQ(UINT(MB_OK), host::MessageBoxes()[0].style);
}

TEST_F(Paths, NameAFolderCannotHaveIsFatal) {
  MakeFolder("T");
  int code = host::RunAsProcess([] {
    CreateFolderPath(Str("C:\\T\\a|b"));
    return -1;
  });
  EXPECT_NE(-1, code);
  EXPECT_NE(0, code);
}

}  // namespace
