// Rebuilding a package from its part files in the temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "startup/multipart.h"
#include "support/package_builder.h"
#include "support/host_machine.h"
#include "support/signing.h"

using namespace testing_support;

namespace {

class Rebuild : public HostMachine {
 protected:
  void SetUp() override {
    HostMachine::SetUp();
    PrepareProgram();
    std::string temp = "C:\\temp\\$Vantrel.Tmp";
    temp.copy(state.tempDir, temp.size());
    state.tempDir[temp.size()] = 0;
    std::string title = "Big Tool";
    title.copy(state.title, title.size());
    state.title[title.size()] = 0;
    host::SetModuleFileName("C:\\disk\\SETUP.EXE");
  }

  // Writes the pieces SETUP.EXE, SETUP.001, ... from one byte stream.
  Bytes WritePieces(std::vector<size_t> sizes, const std::string &base = "disk/SETUP.") {
    Bytes all;
    for (size_t i = 0; i < sizes.size(); ++i) {
      Bytes piece(sizes[i]);
      for (size_t j = 0; j < piece.size(); ++j) piece[j] = uint8_t(all.size() + j * 131 + i);
      char suffix[24];
      snprintf(suffix, sizeof suffix, "%03zu", i);
      WriteFile(base + (i == 0 ? std::string("EXE") : std::string(suffix)), piece);
      all.insert(all.end(), piece.begin(), piece.end());
    }
    state.totalSize = LONG(all.size());
    return all;
  }

  // Runs the rebuild from the program's own file, as LoadPackage hands it over.
  bool RunRebuild() {
    if (state.packageFile != nullptr && state.packageFile != INVALID_HANDLE_VALUE) {
      CloseHandle(state.packageFile);  // the rebuilt file of an earlier run
    }
    state.packageFile = CreateFileA("C:\\disk\\SETUP.EXE", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool result = false;
    host::RunAsProcess([&] {
      result = RebuildPackage();
      return 0;
    });
    return result;
  }

  Bytes Rebuilt(const std::string &folder = "$Vantrel.Tmp") const {
    return ReadFile("temp/" + folder + "/Vantrel.pkg");
  }

  std::vector<std::string> Prompts() const {
    std::vector<std::string> texts;
    for (const auto &box : host::MessageBoxes()) {
      if (box.caption == "Big Tool" && box.style == (MB_OKCANCEL | MB_ICONINFORMATION))
        texts.push_back(box.text);
    }
    return texts;
  }

  bool ReportedFailure() const {
    for (const auto &box : host::MessageBoxes()) {
      if (box.caption == "Error" && box.text == "Error rebuilding this Setup package.") return true;
    }
    return false;
  }
};

TEST(PartNumbers, ArePaddedToTheirWidth) {
  char out[8];
  FormatPartNumber(1, 3, out);
  EXPECT_STREQ("001", out);
  FormatPartNumber(42, 3, out);
  EXPECT_STREQ("042", out);
  FormatPartNumber(255, 3, out);
  EXPECT_STREQ("255", out);
  FormatPartNumber(7, 1, out);
  EXPECT_STREQ("7", out);
}

TEST_F(Rebuild, ThreePiecesAreJoinedInOrderWithoutAPrompt) {
  Bytes all = WritePieces({40000, 33000, 1234});
  ASSERT_TRUE(RunRebuild());
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_EQ(all, Rebuilt());
  EXPECT_EQ("C:\\temp\\$Vantrel.Tmp\\Vantrel.pkg", std::string(state.rebuiltPath.text));
  // The package file is now the rebuilt one, open for reading.
  BYTE first[4] = {};
  DWORD got = 0;
  SetFilePointer(state.packageFile, 0, nullptr, FILE_BEGIN);
  ::ReadFile(state.packageFile, first, 4, &got, nullptr);
  EXPECT_EQ(4u, got);
  EXPECT_EQ(0, memcmp(first, all.data(), 4));
  EXPECT_FALSE(state.ioError);
}

// Only the program file can carry a signature; its certificate table is no
// part of the package. A security entry that names no table in place is
// not the program's to interpret: the file is copied whole, as ever.
TEST_F(Rebuild, ASignedProgramFileLosesItsCertificateTable) {
  Bytes all = WritePieces({36000, 5000, 3000});
  state.archiveBase = 35353;
  Bytes program(all.begin(), all.begin() + 36000);
  Bytes signedProgram = SignPackage(program);
  ASSERT_GT(signedProgram.size(), program.size());
  WriteFile("disk/SETUP.EXE", signedProgram);
  Bytes expected(signedProgram.begin(), signedProgram.begin() + 36000);
  expected.insert(expected.end(), all.begin() + 36000, all.end());
  ASSERT_TRUE(RunRebuild());
  EXPECT_EQ(expected, Rebuilt());

  SignatureLayout outOfPlace;
  outOfPlace.appended = Bytes(8, 0x55);
  Bytes damaged = SignPackage(program, outOfPlace);
  WriteFile("disk/SETUP.EXE", damaged);
  expected = damaged;
  expected.insert(expected.end(), all.begin() + 36000, all.end());
  ASSERT_TRUE(RunRebuild());
  EXPECT_EQ(expected, Rebuilt());
}

// Signing pads the program file with zeros to a multiple of 8 bytes before
// the table; the padding is no part of the package either. Zeros that are
// the package's own last bytes look the same: the pieces' sizes, which add
// up to the header's total, tell them apart. No prompt for a piece that
// does not exist.
TEST_F(Rebuild, TheSignersPaddingIsLeftOutAndZerosOfThePackageKept) {
  struct Case {
    size_t programSize;
    size_t ownZeros;  // the program file's last bytes that are zeros
  };
  for (const Case &c : {Case{36001, 0}, Case{36007, 0}, Case{36005, 2}, Case{36002, 6},
                        Case{36008, 3}, Case{36003, 12}}) {
    SCOPED_TRACE(c.programSize);
    SCOPED_TRACE(c.ownZeros);
    Bytes all = WritePieces({c.programSize, 5000, 3001});
    state.archiveBase = 35353;
    Bytes program(all.begin(), all.begin() + long(c.programSize));
    std::fill(program.end() - long(c.ownZeros), program.end(), 0);
    Bytes signedProgram = SignPackage(program);
    WriteFile("disk/SETUP.EXE", signedProgram);
    Bytes expected(signedProgram.begin(), signedProgram.begin() + long(c.programSize));
    expected.insert(expected.end(), all.begin() + long(c.programSize), all.end());
    ASSERT_TRUE(RunRebuild());
    EXPECT_EQ(expected, Rebuilt());
    EXPECT_TRUE(host::MessageBoxes().empty());
  }
}

TEST_F(Rebuild, MissingPieceIsAskedForAndOkRetriesTheSamePiece) {
  Bytes all = WritePieces({100, 200, 300});
  std::filesystem::rename(Posix("disk/SETUP.002"), Posix("elsewhere.002"));
  int answers = 0;
  host::OnMessageBox([&](const host::MessageBoxRecord &) {
    // The first OK comes without the disk; before the second the disk is back.
    if (++answers == 2) std::filesystem::rename(Posix("elsewhere.002"), Posix("disk/SETUP.002"));
    return IDOK;
  });
  ASSERT_TRUE(RunRebuild());
  EXPECT_EQ(std::vector<std::string>(2, "Please insert disk with part number 3.."), Prompts());
  EXPECT_EQ(all, Rebuilt());
}

TEST_F(Rebuild, CancelAtThePromptFailsTheRebuild) {
  WritePieces({100, 200, 300});
  std::filesystem::remove(Posix("disk/SETUP.001"));
  host::OnMessageBox([](const host::MessageBoxRecord &box) {
    return box.caption == "Big Tool" ? IDCANCEL : IDOK;
  });
  EXPECT_FALSE(RunRebuild());
  EXPECT_EQ(std::vector<std::string>{"Please insert disk with part number 2.."}, Prompts());
  EXPECT_TRUE(ReportedFailure());
  EXPECT_TRUE(state.ioError);
}

TEST_F(Rebuild, ExtensionOfOtherLengthStillLosesItsLastThreeCharacters) {
  host::SetModuleFileName("C:\\disk\\SETUP.EX");
  WriteFile("disk/SETUP.EX", Bytes(10, 1));
  WriteFile("disk/SETUP001", Bytes(5, 2));
  state.totalSize = 15;
  state.packageFile = CreateFileA("C:\\disk\\SETUP.EX", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = false;
  host::RunAsProcess([&] {
    ok = RebuildPackage();
    return 0;
  });
  ASSERT_TRUE(ok);
  Bytes expected(10, 1);
  expected.insert(expected.end(), 5, 2);
  EXPECT_EQ(expected, Rebuilt());
}

TEST_F(Rebuild, EmptyPieceAddsNothingAndLargerPieceIsCopiedWhole) {
  WritePieces({50, 0, 70});
  state.totalSize = 100;  // the last piece holds 20 bytes more than needed
  ASSERT_TRUE(RunRebuild());
  EXPECT_EQ(120u, Rebuilt().size());
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(Rebuild, TotalSizeOfZeroCopiesNothing) {
  WritePieces({50});
  state.totalSize = 0;
  ASSERT_TRUE(RunRebuild());
  EXPECT_TRUE(Rebuilt().empty());
}

// A folder of that name that the run did not make may be anyone's: the
// package is rebuilt beside it, and what it holds stays as it was.
TEST_F(Rebuild, LeftoverFolderIsLeftAloneAndAnotherNameTaken) {
  Bytes all = WritePieces({64, 64});
  MakeFolder("temp/$Vantrel.Tmp");
  WriteFile("temp/$Vantrel.Tmp/Vantrel.pkg", Bytes(5000, 7));
  ASSERT_TRUE(RunRebuild());
  EXPECT_EQ(Bytes(5000, 7), Rebuilt());
  EXPECT_EQ(all, Rebuilt("$Vant001.Tmp"));
  EXPECT_STREQ("C:\\temp\\$Vant001.Tmp", state.tempDir);
}

TEST_F(Rebuild, WriteFailureIsReported) {
  WritePieces({40000, 40000});
  host::LimitWrites(50000);
  EXPECT_FALSE(RunRebuild());
  EXPECT_TRUE(ReportedFailure());
}

TEST_F(Rebuild, PieceThatStopsDeliveringEndsTheCopy) {
  WritePieces({1000, 1000});
  host::CutReads("C:\\disk\\SETUP.001", 300);
  EXPECT_FALSE(RunRebuild());
  EXPECT_TRUE(ReportedFailure());
}

TEST_F(Rebuild, NoPieceAfter255) {
  WritePieces({10});
  for (int i = 1; i <= 255; ++i) {
    char name[32];
    snprintf(name, sizeof name, "disk/SETUP.%03d", i);
    WriteFile(name, Bytes());
  }
  state.totalSize = 11;  // never reached: every numbered part is empty
  EXPECT_FALSE(RunRebuild());
  EXPECT_TRUE(Prompts().empty());
  EXPECT_TRUE(ReportedFailure());
}

TEST_F(Rebuild, RebuiltFileThatCannotBeCreatedIsReported) {
  WritePieces({10, 10});
  host::DenyCreationIn("C:\\temp\\$Vantrel.Tmp");
  EXPECT_FALSE(RunRebuild());
  EXPECT_TRUE(ReportedFailure());
  EXPECT_TRUE(state.ioError);
}

}  // namespace
