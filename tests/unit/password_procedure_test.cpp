// Encrypted members: the header test, the kept password and the prompts.
#include <gtest/gtest.h>

#include "archive/password.h"
#include "core/zipcrypto.h"
#include "extract_fixture.h"
#include "core/text.h"

using namespace testing_support;

namespace {

using Passwords = Extraction;

ZipMember Secret(const std::string &name, const std::string &text, const std::string &password,
                 int method = 0) {
  ZipMember m{name, ToBytes(text), method};
  m.password = password;
  return m;
}

TEST_F(Passwords, KeptPasswordServesLaterMembers) {
  Load(BuildZip({Secret("a.txt", "alpha", "sesame"), Secret("b.txt", "beta", "sesame", 8),
                 Secret("c.txt", "gamma", "sesame")}));
  Answer({"sesame"});
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(1, prompts_);
  EXPECT_EQ(ToBytes("alpha"), ReadFile(Out("a.txt")));
  EXPECT_EQ(ToBytes("beta"), ReadFile(Out("b.txt")));
  EXPECT_EQ(ToBytes("gamma"), ReadFile(Out("c.txt")));
  EXPECT_STREQ("sesame", state.password.text);
  EXPECT_EQ(6u, state.password.length);
}

TEST_F(Passwords, KeptPasswordSurvivesFromWalkToWalk) {
  Load(BuildZip({Secret("a.txt", "alpha", "sesame")}));
  Answer({"sesame"});
  ASSERT_EQ(-1, Extract());
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(1, prompts_);
}

TEST_F(Passwords, SecondPasswordIsAskedForWhenTheKeptOneFails) {
  Load(BuildZip({Secret("a.txt", "alpha", "first"), Secret("b.txt", "beta", "second")}));
  Answer({"first", "second"});
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(2, prompts_);
  EXPECT_EQ(ToBytes("beta"), ReadFile(Out("b.txt")));
}

TEST_F(Passwords, RightOnTheThirdPromptExtracts) {
  Load(BuildZip({Secret("a.txt", "alpha", "third")}));
  Answer({"one", "", "third", "never asked"});
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(3, prompts_);
  EXPECT_EQ(ToBytes("alpha"), ReadFile(Out("a.txt")));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Passwords, ThreeRefusalsOnTheOnlyMemberFail) {
  Load(BuildZip({Secret("a.txt", "alpha", "right")}));
  Answer({"w1", "w2", "w3"});
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ(3, prompts_);
  EXPECT_FALSE(Exists(Out("a.txt")));
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
  EXPECT_EQ("Error extracting file(s).", StatusLines().back());
  // The last typed text is kept although it opened nothing.
  EXPECT_STREQ("w3", state.password.text);
}

TEST_F(Passwords, SkippedMemberFailsTheExtractionEvenWhenLaterMembersExtract) {
  Load(BuildZip({Secret("a.txt", "alpha", "right"), {"b.txt", ToBytes("plain")}}));
  Answer({"w1", "w2", "w3"});
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_FALSE(Exists(Out("a.txt")));
  EXPECT_EQ(ToBytes("plain"), ReadFile(Out("b.txt")));
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
}

TEST_F(Passwords, NextEncryptedMemberAfterASkipTriesTheLastTypedTextFirst) {
  Load(BuildZip({Secret("a.txt", "alpha", "right"), Secret("b.txt", "beta", "w3")}));
  Answer({"w1", "w2", "w3"});
  ASSERT_EQ(-1, Extract());
  EXPECT_EQ(3, prompts_);
  EXPECT_EQ(ToBytes("beta"), ReadFile(Out("b.txt")));
  EXPECT_FALSE(state.extractOk);
}

TEST_F(Passwords, CancelOnTheSecondMemberKeepsTheFirstRecordedWithoutAMessage) {
  Load(BuildZip({Secret("a.txt", "alpha", "one"),
                 Secret("b.txt", "beta", "two"),
                 {"c.txt", ToBytes("never")}}));
  Answer({"one", std::nullopt});
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ(2, prompts_);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(ToBytes("alpha"), ReadFile(Out("a.txt")));
  EXPECT_EQ((std::vector<std::string>{OutWindows("a.txt")}), Recorded());
  EXPECT_FALSE(Exists(Out("b.txt")));
  EXPECT_FALSE(Exists(Out("c.txt")));
}

TEST_F(Passwords, CancelAfterAWrongTryEndsAtOnce) {
  Load(BuildZip({Secret("a.txt", "alpha", "one")}));
  Answer({"wrong", std::nullopt, "one"});
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_EQ(2, prompts_);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Passwords, TypedTextIsClearedAfterEachPrompt) {
  Load(BuildZip({Secret("a.txt", "alpha", "pw")}));
  Answer({"pw"});
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  for (int i = 0; i < kTypedPasswordSize; ++i) EXPECT_EQ(0, state.typedPassword[i]) << i;
}

TEST_F(Passwords, CheckByteComesFromTheTimeWhenBitThreeIsSet) {
  ZipMember m = Secret("d.txt", "descriptor member", "pw");
  m.descriptor = true;
  m.dosTime = 0x7A31;  // high byte differs from the CRC's
  ASSERT_NE(uint8_t(Crc32(m.data) >> 24), 0x7A);
  Load(BuildZip({m}));
  Answer({"pw"});
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(1, prompts_);
  EXPECT_EQ(ToBytes("descriptor member"), ReadFile(Out("d.txt")));
}

TEST_F(Passwords, EncryptedDeflatedMemberOfSeveralChunks) {
  Bytes data(150000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t((i * 7919) >> 5);
  ZipMember m{"big.bin", data, 8};
  m.password = "chunks";
  Load(BuildZip({m}));
  Answer({"chunks"});
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_EQ(data, ReadFile(Out("big.bin")));
}

TEST_F(Passwords, EncryptedStoredMemberOfTwelveBytesIsAnEmptyFile) {
  Load(BuildZip({Secret("e.txt", "", "pw")}));
  Answer({"pw"});
  ASSERT_EQ(-1, Extract());
  EXPECT_TRUE(state.extractOk);
  EXPECT_TRUE(Exists(Out("e.txt")));
  EXPECT_TRUE(ReadFile(Out("e.txt")).empty());
}

TEST_F(Passwords, EncryptedStoredMemberShorterThanItsHeaderReadsNothing) {
  // A real encryption header, but the size field says 5 bytes.
  Bytes zip = BuildZip({Secret("s.txt", "", "pw"), {"after.txt", ToBytes("after")}});
  zip[18] = 5, zip[19] = zip[20] = zip[21] = 0;
  Load(zip);
  Answer({"pw"});
  host::FailAllocationsAbove(1 << 20);
  ASSERT_EQ(-1, Extract());
  EXPECT_FALSE(state.extractOk);
  EXPECT_TRUE(ReadFile(Out("s.txt")).empty());
  EXPECT_EQ((std::vector<std::string>{"Error: Error extracting file(s)."}), Boxes());
}

// ---- the header test on its own -------------------------------------------

class HeaderTest : public HostMachine {
 protected:
  void SetUp() override {
    HostMachine::SetUp();
    PrepareProgram();
  }
  // The 12-byte header of an archive member as the builder writes it.
  Bytes HeaderOf(const ZipMember &m) {
    Bytes zip = BuildZip({m});
    size_t at = 30 + m.name.size();
    return Bytes(zip.begin() + long(at), zip.begin() + long(at) + 12);
  }
  bool Check(const Bytes &header, WORD flags, DWORD crc, WORD time, const char *password) {
    BYTE work[24] = {};
    std::copy(header.begin(), header.end(), work + 12);
    CountedString pw{};
    AssignString(pw, password);
    return CheckEncryptionHeader(work, 12, flags, crc, time, pw);
  }
};

TEST_F(HeaderTest, RightPasswordPassesAndWrongOneFails) {
  ZipMember m = Secret("a", "data", "open");
  Bytes header = HeaderOf(m);
  DWORD crc = Crc32(m.data);
  EXPECT_TRUE(Check(header, 1, crc, m.dosTime, "open"));
  EXPECT_FALSE(Check(header, 1, crc ^ 0x01000000, m.dosTime, "open"));
}

TEST_F(HeaderTest, EmptyPasswordFailsWithoutTouchingTheKeys) {
  state.key0 = 1, state.key1 = 2, state.key2 = 3;
  ZipMember m = Secret("a", "data", "x");
  EXPECT_FALSE(Check(HeaderOf(m), 1, Crc32(m.data), m.dosTime, ""));
  EXPECT_EQ(1u, state.key0);
  EXPECT_EQ(2u, state.key1);
  EXPECT_EQ(3u, state.key2);
}

TEST_F(HeaderTest, BitThreeTestsTheTimeNotTheCrc) {
  ZipMember m = Secret("a", "data", "pw");
  m.descriptor = true;
  m.dosTime = 0x1234;
  m.crc = 0xAB000000;
  Bytes header = HeaderOf(m);
  EXPECT_TRUE(Check(header, 9, 0xAB000000, 0x1234, "pw"));
  EXPECT_FALSE(Check(header, 1, 0xAB000000, 0x1234, "pw"));
  EXPECT_FALSE(Check(header, 9, 0x12000000, 0xAB34, "pw"));
}

TEST_F(HeaderTest, KeysStandReadyForTheFirstDataByte) {
  ZipMember m = Secret("a", "Z", "pw");
  Bytes zip = BuildZip({m});
  Bytes header(zip.begin() + 31, zip.begin() + 43);
  ASSERT_TRUE(Check(header, 1, Crc32(m.data), m.dosTime, "pw"));
  BYTE c = zip[43];
  EXPECT_EQ('Z', c ^ DecryptByte());
}

TEST_F(HeaderTest, EveryTestStartsFromTheSameCiphertext) {
  ZipMember m = Secret("a", "data", "pw");
  Bytes header = HeaderOf(m);
  BYTE work[24] = {};
  std::copy(header.begin(), header.end(), work + 12);
  CountedString wrong{}, right{};
  AssignString(wrong, "nope");
  AssignString(right, "pw");
  CheckEncryptionHeader(work, 12, 1, Crc32(m.data), m.dosTime, wrong);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), work + 12));
  EXPECT_TRUE(CheckEncryptionHeader(work, 12, 1, Crc32(m.data), m.dosTime, right));
}

}  // namespace
