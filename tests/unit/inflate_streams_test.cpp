// Hand-made streams: each block type, the window's edges, and every way a
// damaged member must end.
#include <gtest/gtest.h>

#include "inflate/inflate.h"
#include "inflate_harness.h"
#include "platform/driver.h"

using namespace inflate_test;
using testing_support::Crc32;

namespace {

class Streams : public InflateTest {};

// A stored block header and its bytes (the writer is byte-aligned after it).
void Stored(BitWriter &out, bool last, const Bytes &data) {
  out.Bits(last ? 1 : 0, 1);
  out.Bits(0, 2);
  out.AlignToByte();
  out.Bits(uint32_t(data.size()), 16);
  out.Bits(uint32_t(~data.size()) & 0xFFFF, 16);
  for (uint8_t b : data) out.Byte(b);
}

void FixedHeader(BitWriter &out, bool last) {
  out.Bits(last ? 1 : 0, 1);
  out.Bits(1, 2);
}

TEST_F(Streams, EmptyStoredAndEmptyFixedBlocksWriteNothing) {
  Decoded d = Decode({0x01, 0x00, 0x00, 0xFF, 0xFF});
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(0u, d.crc);
  d = Decode({0x03, 0x00});
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(0u, d.crc);
}

TEST_F(Streams, ZeroCompressedCountNeverReadsTheFile) {
  Bytes stream = RawDeflate(TextBytes(100, 1), 6, 0);
  Decoded d = Decode(stream, 0, Bytes(3, 0));
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(3, d.readUpTo);
  d = Decode(stream, -12, Bytes(3, 0));  // an encrypted member shorter than its header
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(3, d.readUpTo);
}

TEST_F(Streams, FixedBlockLiteralsAndLongestRunAtDistanceOne) {
  BitWriter w;
  FixedHeader(w, true);
  FixedLiteral(w, 'a');
  FixedLength(w, 258);
  FixedDistance(w, 1);
  FixedLiteral(w, 0xFF);
  FixedLiteral(w, 256);
  Bytes expected(259, 'a');
  expected.push_back(0xFF);
  Decoded d = Decode(w.Finish());
  EXPECT_TRUE(expected == d.output);
  EXPECT_EQ(Crc32(expected), d.crc);
}

TEST_F(Streams, TypeThreeBlockDecodesNothingAndTheNextHeaderFollows) {
  BitWriter w;
  w.Bits(0, 1);
  w.Bits(3, 2);
  FixedHeader(w, true);
  FixedLiteral(w, 'q');
  FixedLiteral(w, 256);
  EXPECT_EQ(Bytes{'q'}, Decode(w.Finish()).output);
}

TEST_F(Streams, StoredBlockAfterACodedBlockStartsAtTheNextByte) {
  BitWriter w;
  FixedHeader(w, false);
  FixedLiteral(w, 'x');
  FixedLiteral(w, 'y');
  FixedLiteral(w, 256);
  Stored(w, true, {0, 1, 2, 0xFF, 'z'});
  Bytes expected = {'x', 'y', 0, 1, 2, 0xFF, 'z'};
  Decoded d = Decode(w.Finish());
  EXPECT_EQ(expected, d.output);
  EXPECT_EQ(Crc32(expected), d.crc);
}

TEST_F(Streams, TwoFixedBlocksAndASecondMemberWithFixedBlocks) {
  BitWriter w;
  FixedHeader(w, false);
  FixedLiteral(w, 'a');
  FixedLiteral(w, 'b');
  FixedLiteral(w, 256);
  FixedHeader(w, true);
  FixedLength(w, 4);
  FixedDistance(w, 2);
  FixedLiteral(w, 256);
  Bytes stream = w.Finish();
  Bytes expected = {'a', 'b', 'a', 'b', 'a', 'b'};
  EXPECT_EQ(expected, Decode(stream).output);
  // The next member builds its own tables again.
  EXPECT_EQ(expected, Decode(stream).output);
}

TEST_F(Streams, OutputOfExactlyOneWindowAndAcrossIt) {
  for (size_t size : {32768u, 32769u, 65536u}) {
    Bytes data = RandomBytes(size, uint32_t(size));
    BitWriter w;
    for (size_t at = 0; at < size; at += 65535) {
      size_t n = std::min<size_t>(65535, size - at);
      Stored(w, at + n == size, Bytes(data.begin() + at, data.begin() + at + n));
    }
    Decoded d = Decode(w.Finish());
    EXPECT_TRUE(data == d.output) << size;
    EXPECT_EQ(Crc32(data), d.crc);
  }
}

TEST_F(Streams, DistanceOfAWholeWindowReadsTheByteWrittenAWindowAgo) {
  Bytes data = RandomBytes(32768, 5);
  BitWriter w;
  Stored(w, false, data);
  FixedHeader(w, true);
  FixedLength(w, 10);
  FixedDistance(w, 32768);
  FixedLiteral(w, 256);
  Bytes expected = data;
  expected.insert(expected.end(), data.begin(), data.begin() + 10);
  Decoded d = Decode(w.Finish());
  EXPECT_TRUE(expected == d.output);
  EXPECT_EQ(Crc32(expected), d.crc);
}

TEST_F(Streams, CopySplitAtTheWindowEnd) {
  // 32,760 bytes, then copies that run over index 32,767, with a source
  // before the end (distance 100) and one that overlaps (distance 3).
  Bytes data = RandomBytes(32760, 6);
  BitWriter w;
  Stored(w, false, data);
  FixedHeader(w, true);
  FixedLength(w, 20);
  FixedDistance(w, 100);
  FixedLength(w, 258);
  FixedDistance(w, 3);
  FixedLength(w, 200);
  FixedDistance(w, 32768);
  FixedLiteral(w, 256);
  Bytes expected = data;
  for (int i = 0; i < 20; ++i) expected.push_back(expected[expected.size() - 100]);
  for (int i = 0; i < 258; ++i) expected.push_back(expected[expected.size() - 3]);
  for (int i = 0; i < 200; ++i) expected.push_back(expected[expected.size() - 32768]);
  Decoded d = Decode(w.Finish());
  EXPECT_TRUE(expected == d.output);
  EXPECT_EQ(Crc32(expected), d.crc);
}

// A dynamic block whose literal/length code gives 'a'..'p' and 256 5-bit
// codes and symbols 257..271 5-bit codes too (32 codes: complete), with the
// distance lengths given.
std::vector<int> FiveBitLiterals() {
  std::vector<int> lit(272, 0);
  for (int c = 'a'; c <= 'p'; ++c) lit[c] = 5;
  for (int s = 256; s < 272; ++s) lit[s] = 5;
  return lit;
}

TEST_F(Streams, IncompleteDistanceCodeDecodesAndItsFreePatternIsInvalid) {
  std::vector<int> dist = {1, 2};  // patterns 0 and 10; 11 is free
  for (bool useFree : {false, true}) {
    BitWriter w;
    DynamicCodes codes = WriteDynamicHeader(w, true, FiveBitLiterals(), dist);
    codes.Literal(w, 'a');
    codes.Literal(w, 'b');
    codes.Literal(w, 257);  // length 3
    if (useFree) {
      w.Code(3, 2);
    } else {
      codes.Distance(w, 1);  // distance 2
    }
    codes.Literal(w, 256);
    Decoded d = Decode(w.Finish());
    if (useFree) {
      EXPECT_TRUE(d.output.empty());
    } else {
      EXPECT_EQ((Bytes{'a', 'b', 'a', 'b', 'a'}), d.output);
    }
  }
}

TEST_F(Streams, DistanceSymbolsThirtyAndThirtyOneAreInvalid) {
  std::vector<int> dist(32, 5);  // a complete code over all 32 symbols
  for (int symbol : {29, 30, 31}) {
    Bytes data = RandomBytes(30000, 7);
    BitWriter w;
    Stored(w, false, data);
    DynamicCodes codes = WriteDynamicHeader(w, true, FiveBitLiterals(), dist);
    codes.Literal(w, 257);
    codes.Distance(w, symbol);
    if (symbol == 29) w.Bits(0, 13);  // distance 24,577
    codes.Literal(w, 256);
    Decoded d = Decode(w.Finish());
    if (symbol == 29) {
      Bytes expected = data;
      for (int i = 0; i < 3; ++i) expected.push_back(expected[expected.size() - 24577]);
      EXPECT_TRUE(expected == d.output);
    } else {
      EXPECT_TRUE(d.output.empty()) << symbol;
    }
  }
}

TEST_F(Streams, LiteralSymbolsAboveTheLastLengthAreInvalid) {
  std::vector<int> lit(288, 0);
  lit['a'] = 2;
  lit[256] = 2;
  lit[286] = 2;
  lit[287] = 2;
  for (int symbol : {286, 287}) {
    BitWriter w;
    DynamicCodes codes = WriteDynamicHeader(w, true, lit, {1});
    codes.Literal(w, 'a');
    codes.Literal(w, symbol);
    codes.Distance(w, 0);
    codes.Literal(w, 256);
    EXPECT_TRUE(Decode(w.Finish()).output.empty()) << symbol;
  }
}

TEST_F(Streams, CodeWithoutSymbolsIsInvalidOnlyWhenUsed) {
  // One distance length of 0: a block of literals is fine, a copy is invalid.
  for (bool copy : {false, true}) {
    BitWriter w;
    DynamicCodes codes = WriteDynamicHeader(w, true, FiveBitLiterals(), {0});
    codes.Literal(w, 'c');
    codes.Literal(w, 'd');
    if (copy) {
      codes.Literal(w, 257);
      w.Bits(0, 8);
    }
    codes.Literal(w, 256);
    Decoded d = Decode(w.Finish());
    EXPECT_EQ(copy ? Bytes{} : (Bytes{'c', 'd'}), d.output);
  }
  // No literal/length code at all.
  BitWriter w;
  WriteDynamicHeader(w, true, std::vector<int>(257, 0), {1});
  w.Bits(0, 16);
  EXPECT_TRUE(Decode(w.Finish()).output.empty());
}

TEST_F(Streams, CodeLengthCodeWithoutSymbolsIsInvalid) {
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(2, 2);
  w.Bits(0, 5);
  w.Bits(0, 5);
  w.Bits(0, 4);
  w.Bits(0, 12);  // four code-length lengths of 0
  w.Bits(0, 32);
  EXPECT_TRUE(Decode(w.Finish()).output.empty());
}

TEST_F(Streams, DistanceBeforeTheMembersFirstByteIsInvalid) {
  // A first member fills the window with its own bytes.
  Bytes first = RandomBytes(40000, 8);
  EXPECT_TRUE(first == Decode(RawDeflate(first, 6, 0)).output);
  for (int distance : {2, 3, 32768}) {
    BitWriter w;
    FixedHeader(w, true);
    FixedLiteral(w, 'k');
    FixedLiteral(w, 'l');
    FixedLength(w, 5);
    FixedDistance(w, distance);
    FixedLiteral(w, 256);
    Decoded d = Decode(w.Finish());
    if (distance == 2) {
      EXPECT_EQ((Bytes{'k', 'l', 'k', 'l', 'k', 'l', 'k'}), d.output);
    } else {
      EXPECT_TRUE(d.output.empty()) << distance;
    }
  }
}

TEST_F(Streams, InvalidCodeEndsTheMemberInsteadOfReadingOn) {
  // After the invalid distance code the bits read as a stored last block
  // holding "XYZ"; decoding must not go on to it.
  BitWriter w;
  FixedHeader(w, false);
  FixedLiteral(w, 'A');
  FixedLength(w, 3);
  w.Code(30, 5);  // fixed distance symbol 30
  Stored(w, true, {'X', 'Y', 'Z'});
  Decoded d = Decode(w.Finish());
  EXPECT_TRUE(d.output.empty());
  EXPECT_NE(Crc32({'A'}), d.crc);
  EXPECT_EQ(kStatusInvalidCode, d.status);
}

TEST_F(Streams, BadTablesEndTheMember) {
  // Oversubscribed literal/length code: three 1-bit lengths.
  std::vector<int> lit(257, 0);
  lit[0] = lit[1] = lit[256] = 1;
  BitWriter w;
  WriteDynamicHeader(w, false, lit, {1});
  Stored(w, true, {'X'});
  Decoded d = Decode(w.Finish());
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(kStatusOversubscribed, d.status);
  // Incomplete literal/length code.
  lit.assign(257, 0);
  lit['a'] = 1;
  lit[256] = 2;
  BitWriter w2;
  WriteDynamicHeader(w2, false, lit, {1});
  Stored(w2, true, {'X'});
  d = Decode(w2.Finish());
  EXPECT_TRUE(d.output.empty());
  EXPECT_NE(kStatusOk, d.status);
}

TEST_F(Streams, RepeatPastTheLastLengthEndsTheMember) {
  // Code-length code: symbols 0 and 18 with 1-bit codes; 258 lengths wanted.
  for (int lastRun : {2, 11}) {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(0, 5);  // 257 literal/length lengths
    w.Bits(0, 5);  // 1 distance length
    w.Bits(0, 4);  // 4 code-length lengths, for 16, 17, 18, 0
    w.Bits(0, 3);
    w.Bits(0, 3);
    w.Bits(1, 3);
    w.Bits(1, 3);
    w.Code(1, 1);
    w.Bits(128 - 11, 7);
    w.Code(1, 1);
    w.Bits(128 - 11, 7);
    // 256 zero lengths so far: two more fit, a run of 11 does not. With all
    // lengths 0 the block has no literal code, so it never decodes data.
    if (lastRun == 2) {
      w.Code(0, 1);
      w.Code(0, 1);
    } else {
      w.Code(1, 1);
      w.Bits(0, 7);
    }
    Stored(w, true, {'X'});
    Decoded d = Decode(w.Finish());
    EXPECT_TRUE(d.output.empty());
  }
}

TEST_F(Streams, StoredLengthWithoutItsComplementEndsTheMember) {
  BitWriter w;
  w.Bits(0, 1);
  w.Bits(0, 2);
  w.AlignToByte();
  w.Bits(3, 16);
  w.Bits(0xFFFD, 16);  // not ~3
  w.Byte('a');
  w.Byte('b');
  w.Byte('c');
  Stored(w, true, {'X'});
  Decoded d = Decode(w.Finish());
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(kStatusBadStoredLength, d.status);
}

TEST_F(Streams, InputEndingInsideABlockNeverDecodesTheEndMarker) {
  // A stored block that declares more bytes than the member has: the end
  // marker's one bits must not become 0xFF bytes.
  Bytes data = RandomBytes(40000, 9);
  BitWriter w;
  Stored(w, true, data);
  Bytes stream = w.Finish();
  Bytes cut(stream.begin(), stream.end() - 100);
  Decoded d = Decode(cut, kMemberSize, {}, Bytes(500, 0xFF));
  EXPECT_EQ(kStatusInputEnded, d.status);
  EXPECT_TRUE(Bytes(data.begin(), data.begin() + 32768) == d.output);
  EXPECT_EQ((long long)cut.size(), d.readUpTo);

  // A fixed block cut short: one bits read as a 9-bit literal 255 and more.
  BitWriter f;
  FixedHeader(f, true);
  for (int i = 0; i < 10; ++i) FixedLiteral(f, 'm');
  Bytes fixed = f.Finish();
  EXPECT_TRUE(Decode(fixed).output.empty());
  // The same ending in one bits: the member's bits and the end marker's then
  // read as literal 255 after literal 255, without end, unless the decoder
  // notices that it has gone past the member's data.
  BitWriter ones;
  FixedHeader(ones, true);
  for (int i = 0; i < 10; ++i) FixedLiteral(ones, 'm');
  ones.Bits(0x1F, 5);
  Decoded d2 = Decode(ones.Finish());
  EXPECT_TRUE(d2.output.empty());
  EXPECT_EQ(11, d2.readUpTo);

  // Every truncation of a real stream yields a prefix of the real output.
  Bytes text = TextBytes(70000, 10);
  Bytes full = RawDeflate(text, 6, 0);
  for (size_t cutAt : {size_t(0), size_t(1), full.size() / 3, full.size() / 2, full.size() - 1}) {
    Decoded t =
        Decode(Bytes(full.begin(), full.begin() + long(cutAt)), kMemberSize, {}, Bytes(50, 0));
    ASSERT_LE(t.output.size(), text.size());
    EXPECT_TRUE(Bytes(text.begin(), text.begin() + long(t.output.size())) == t.output) << cutAt;
    EXPECT_LT(t.output.size(), text.size());
  }
}

TEST_F(Streams, DeclaredCountLongerThanTheFileEndsTheMember) {
  Bytes text = TextBytes(50000, 11);
  Bytes full = RawDeflate(text, 6, 0);
  Bytes cut(full.begin(), full.begin() + long(full.size() / 2));
  Decoded d = Decode(cut, (long long)full.size());
  EXPECT_LT(d.output.size(), text.size());
  EXPECT_TRUE(Bytes(text.begin(), text.begin() + long(d.output.size())) == d.output);
}

TEST_F(Streams, ShortWriteOnAnyFlushSetsTheErrorAndEnds) {
  Bytes data = TextBytes(200000, 12);
  Bytes stream = RawDeflate(data, 6, 0);
  // The second window's write falls short; decoding stops there.
  host::LimitWrites(40000);
  Decoded d = Decode(stream);
  EXPECT_TRUE(d.ioError);
  EXPECT_EQ(kStatusWriteFailed, d.status);
  EXPECT_EQ(40000u, d.output.size());
  EXPECT_LT(d.readUpTo, (long long)stream.size());
  // The final partial window's write falls short.
  state.ioError = 0;
  host::LimitWrites(3 * 32768 + 10);
  Bytes small = TextBytes(3 * 32768 + 500, 13);
  d = Decode(RawDeflate(small, 6, 0));
  EXPECT_TRUE(d.ioError);
  EXPECT_EQ(kStatusWriteFailed, d.status);
  EXPECT_EQ(3u * 32768 + 10, d.output.size());
  // The flag stays set through a later member that writes fully.
  host::LimitWrites(-1);
  d = Decode(RawDeflate(small, 6, 0));
  EXPECT_TRUE(d.ioError);
  EXPECT_EQ(kStatusOk, d.status);
  EXPECT_TRUE(small == d.output);
}

}  // namespace
