// The text descrambler and the CRC-32 table.
#include <gtest/gtest.h>

#include <string>

#include "core/crc32.h"
#include "startup/descramble.h"
#include "support/package_builder.h"
#include "support/host_machine.h"

using namespace testing_support;

namespace {

Bytes Descrambled(Bytes text, LONG length) {
  Descramble(text.data(), length);
  return text;
}

TEST(Descramble, TwiceGivesBackTheText) {
  Bytes text = ToBytes("Licence terms\r\nwith several lines and \xE9 accents.");
  EXPECT_EQ(text, Descrambled(Descrambled(text, LONG(text.size())), LONG(text.size())));
}

TEST(Descramble, ShortLengthsChangeNothingBeyondTheirRange) {
  Bytes text = ToBytes("abc");
  EXPECT_EQ(text, Descrambled(text, 0));
  EXPECT_EQ(text, Descrambled(text, 1));
  EXPECT_EQ(text, Descrambled(text, -7));
  Bytes two = Descrambled(text, 2);
  EXPECT_EQ(text[0], two[0]);
  EXPECT_NE(text[1], two[1]);
  EXPECT_EQ(text[2], two[2]);
}

// The generator's first eight key bytes, worked out by hand from its
// definition (seed 0x3A9, multiplier 134775813, the draw's top seven bits
// with the eighth set): what descrambling zeros after a first byte gives.
const Bytes kFirstKeyBytes = {0xB3, 0xB7, 0xF0, 0x8E, 0xF1, 0xF8, 0xA7, 0xAC};

TEST(Descramble, KnownKeyBytesAndEveryCallStartsFromTheSeed) {
  Bytes expected = {0};
  expected.insert(expected.end(), kFirstKeyBytes.begin(), kFirstKeyBytes.end());
  EXPECT_EQ(expected, Descrambled(Bytes(9, 0), 9));
  Descrambled(ToBytes("an earlier text"), 15);
  EXPECT_EQ(expected, Descrambled(Bytes(9, 0), 9));
}

TEST(Descramble, ScrambledAsciiHasTopBitsSetAfterTheFirstByte) {
  // Scrambling is the same operation as descrambling.
  Bytes scrambled = Descrambled(ToBytes("plain 7-bit text"), 16);
  EXPECT_EQ('p', scrambled[0]);
  for (size_t i = 1; i < scrambled.size(); ++i) EXPECT_TRUE(scrambled[i] & 0x80) << i;
}

class CrcTable : public HostMachine {};

TEST_F(CrcTable, KnownEntries) {
  PrepareProgram();
  EXPECT_EQ(0u, state.crcTable[0]);
  EXPECT_EQ(0x77073096u, state.crcTable[1]);
  EXPECT_EQ(0xEDB88320u, state.crcTable[128]);
  EXPECT_EQ(0x2D02EF8Du, state.crcTable[255]);
}

TEST_F(CrcTable, BufferInPiecesEqualsWholeAndMatchesTheZipCrc) {
  PrepareProgram();
  Bytes data;
  for (int i = 0; i < 1000; ++i) data.push_back(uint8_t(i * 7 + (i >> 3)));
  DWORD whole = 0xFFFFFFFF, pieces = 0xFFFFFFFF;
  CrcUpdateBuffer(data.data(), LONG(data.size()), whole);
  CrcUpdateBuffer(data.data(), 333, pieces);
  CrcUpdateBuffer(data.data() + 333, LONG(data.size()) - 333, pieces);
  EXPECT_EQ(whole, pieces);
  EXPECT_EQ(Crc32(data), whole ^ 0xFFFFFFFFu);
  DWORD empty = 0xFFFFFFFF;
  CrcUpdateBuffer(data.data(), 0, empty);
  CrcUpdateBuffer(data.data(), -3, empty);
  EXPECT_EQ(0u, empty ^ 0xFFFFFFFFu);
}

TEST_F(CrcTable, EveryLengthAndStartAgreesWithTheZipCrc) {
  PrepareProgram();
  Bytes data;
  // Long enough for several blocks of the interleaved fold, whatever the
  // word size.
  for (int i = 0; i < 200; ++i) data.push_back(uint8_t(i * 151 + 7));
  for (size_t start = 0; start < 8; ++start) {
    for (size_t length = 0; start + length <= data.size(); ++length) {
      DWORD reg = 0xFFFFFFFF;
      CrcUpdateBuffer(data.data() + start, LONG(length), reg);
      Bytes piece(data.begin() + long(start), data.begin() + long(start + length));
      ASSERT_EQ(Crc32(piece), reg ^ 0xFFFFFFFFu) << start << "+" << length;
    }
  }
}

TEST_F(CrcTable, LongBuffersAgreeWithTheZipCrcAtEveryStartAndJoin) {
  PrepareProgram();
  Bytes data;
  for (int i = 0; i < 40000; ++i) data.push_back(uint8_t(i * 151 + (i >> 9) + 7));
  // Around the least length folded without tables (16 KiB), where the
  // words carried forward fill two and three chunks of 1024 words exactly,
  // and several chunks with a ragged end.
  const size_t lengths[] = {16383, 16384, 16391, 18783, 18784, 18792, 26976, 39990};
  for (size_t start = 0; start < 8; ++start) {
    for (size_t length : lengths) {
      Bytes piece(data.begin() + long(start), data.begin() + long(start + length));
      DWORD whole = 0xFFFFFFFF, joined = 0xFFFFFFFF;
      CrcUpdateBuffer(piece.data(), LONG(length), whole);
      ASSERT_EQ(Crc32(piece), whole ^ 0xFFFFFFFFu) << start << "+" << length;
      // A register carried over from an earlier piece enters as it should.
      CrcUpdateBuffer(piece.data(), 5, joined);
      CrcUpdateBuffer(piece.data() + 5, LONG(length - 5), joined);
      ASSERT_EQ(whole, joined) << start << "+" << length;
    }
  }
}

}  // namespace
