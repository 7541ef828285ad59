// Hand-made streams, each decoded by InflateMember with zlib as the control:
// each block type, the window's edges, and every way a damaged member must
// end. Then what is not about one stream: where reading stops, a full
// disk, a declared count longer than the file.
#include <gtest/gtest.h>

#include <functional>

#include "inflate/inflate.h"
#include "inflate_harness.h"
#include "platform/driver.h"

using namespace inflate_test;
using testing_support::Crc32;

namespace {

// A stored block header and its bytes (the writer is byte-aligned after it).
void Stored(BitWriter &out, bool last, const Bytes &data) {
  out.Bits(last ? 1 : 0, 1);
  out.Bits(0, 2);
  out.AlignToByte();
  out.Bits(uint32_t(data.size()), 16);
  out.Bits(uint32_t(~data.size()) & 0xFFFF, 16);
  for (uint8_t b : data) out.Byte(b);
}

// `data` as stored blocks, the last one ending the member unless `last` is
// false.
void StoredRun(BitWriter &out, const Bytes &data, bool last = true) {
  for (size_t at = 0; at < data.size(); at += 65535) {
    size_t n = std::min<size_t>(65535, data.size() - at);
    Stored(out, last && at + n == data.size(), Bytes(data.begin() + at, data.begin() + at + n));
  }
}

void FixedHeader(BitWriter &out, bool last) {
  out.Bits(last ? 1 : 0, 1);
  out.Bits(1, 2);
}

// A dynamic block's literal/length code: 'a'..'p' and 256 with 5-bit codes,
// and symbols 257..271 (lengths 3..17) too: 32 codes, complete.
std::vector<int> FiveBitLiterals() {
  std::vector<int> lit(272, 0);
  for (int c = 'a'; c <= 'p'; ++c) lit[c] = 5;
  for (int s = 256; s < 272; ++s) lit[s] = 5;
  return lit;
}

// `data` stored and not last, then a fixed last block of copies of `length`
// bytes from each of `distances` back.
Bytes StoredThenCopies(const Bytes &data, int length, std::vector<int> distances) {
  BitWriter w;
  StoredRun(w, data, false);
  FixedHeader(w, true);
  for (int distance : distances) {
    FixedLength(w, length);
    FixedDistance(w, distance);
  }
  FixedLiteral(w, 256);
  return w.Finish();
}

// A dynamic block with `literals` and `distances` as its code lengths, whose
// data is literal 'a' then `body`, then the end of block.
Bytes Dynamic(const std::vector<int> &literals, const std::vector<int> &distances,
              const std::function<void(BitWriter &, const DynamicCodes &)> &body) {
  BitWriter w;
  DynamicCodes codes = WriteDynamicHeader(w, true, literals, distances);
  codes.Literal(w, 'a');
  body(w, codes);
  codes.Literal(w, 256);
  return w.Finish();
}

// The code-length code of a dynamic block: `order` holds the 3-bit lengths
// in the order the header sends them (symbols 16, 17, 18, 0, 8, ...).
void CodeLengthHeader(BitWriter &w, int literals, int distances, const std::vector<int> &order) {
  w.Bits(1, 1);
  w.Bits(2, 2);
  w.Bits(uint32_t(literals - 257), 5);
  w.Bits(uint32_t(distances - 1), 5);
  w.Bits(uint32_t(order.size() - 4), 4);
  for (int length : order) w.Bits(uint32_t(length), 3);
}

// The repeat code 18 for 256 zero lengths (two runs of 128), with symbols 0
// and 18 given 1-bit codes, then `rest`.
Bytes RepeatRuns(const std::function<void(BitWriter &)> &rest) {
  BitWriter w;
  CodeLengthHeader(w, 257, 1, {0, 0, 1, 1});
  w.Code(1, 1);
  w.Bits(128 - 11, 7);
  w.Code(1, 1);
  w.Bits(128 - 11, 7);
  rest(w);
  Stored(w, true, {'X'});
  return w.Finish();
}

struct StreamRow {
  const char *name;
  std::function<Bytes()> stream;
  int status;
  // The output where zlib does not give it: it refuses the stream.
  std::function<Bytes()> expected = nullptr;
};

std::ostream &operator<<(std::ostream &out, const StreamRow &row) { return out << row.name; }

const StreamRow kStreams[] = {
    {"EmptyStoredBlock", [] { return Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF}; }, kStatusOk},
    {"EmptyFixedBlock", [] { return Bytes{0x03, 0x00}; }, kStatusOk},
    {"FixedLiteralsAndLongestRunAtDistanceOne",
     [] {
       BitWriter w;
       FixedHeader(w, true);
       FixedLiteral(w, 'a');
       FixedLength(w, 258);
       FixedDistance(w, 1);
       FixedLiteral(w, 0xFF);
       FixedLiteral(w, 256);
       return w.Finish();
     },
     kStatusOk},
    // Symbols at the edges of the fixed code's lengths, and the lengths
    // with the most extra bits and none.
    {"FixedCodeEdges",
     [] {
       BitWriter w;
       FixedHeader(w, true);
       for (int symbol : {0, 143, 144, 255, int('x'), int('y'), int('z')}) FixedLiteral(w, symbol);
       for (int length : {3, 10, 11, 227, 257, 258}) {
         FixedLength(w, length);
         FixedDistance(w, 2);
       }
       FixedLiteral(w, 256);
       return w.Finish();
     },
     kStatusOk},
    {"FixedLiteralSymbol286IsInvalid",
     [] {
       BitWriter w;
       FixedHeader(w, true);
       FixedLiteral(w, 'a');
       FixedLiteral(w, 286);
       FixedLiteral(w, 256);
       return w.Finish();
     },
     kStatusInvalidCode},
    {"FixedLiteralSymbol287IsInvalid",
     [] {
       BitWriter w;
       FixedHeader(w, true);
       FixedLiteral(w, 'a');
       FixedLiteral(w, 287);
       FixedLiteral(w, 256);
       return w.Finish();
     },
     kStatusInvalidCode},
    // The reserved block type has no body and the next header follows; zlib
    // refuses it, the decoder goes on as the format leaves it.
    {"TypeThreeBlockDecodesNothingAndTheNextHeaderFollows",
     [] {
       BitWriter w;
       w.Bits(0, 1);
       w.Bits(3, 2);
       FixedHeader(w, true);
       FixedLiteral(w, 'q');
       FixedLiteral(w, 256);
       return w.Finish();
     },
     kStatusOk, [] { return Bytes{'q'}; }},
    {"StoredBlockAfterACodedBlockStartsAtTheNextByte",
     [] {
       BitWriter w;
       FixedHeader(w, false);
       FixedLiteral(w, 'x');
       FixedLiteral(w, 'y');
       FixedLiteral(w, 256);
       Stored(w, true, {0, 1, 2, 0xFF, 'z'});
       return w.Finish();
     },
     kStatusOk},
    {"TwoFixedBlocks",
     [] {
       BitWriter w;
       FixedHeader(w, false);
       FixedLiteral(w, 'a');
       FixedLiteral(w, 'b');
       FixedLiteral(w, 256);
       FixedHeader(w, true);
       FixedLength(w, 4);
       FixedDistance(w, 2);
       FixedLiteral(w, 256);
       return w.Finish();
     },
     kStatusOk},
    {"DistanceOfAWholeWindowReadsTheByteWrittenAWindowAgo",
     [] { return StoredThenCopies(RandomBytes(32768, 5), 10, {32768}); }, kStatusOk},
    // A first byte of the member's own, then distances before it: the
    // window holds the member before, which must not show through.
    {"DistanceTwoAfterTwoBytes",
     [] {
       BitWriter w;
       FixedHeader(w, true);
       FixedLiteral(w, 'k');
       FixedLiteral(w, 'l');
       FixedLength(w, 5);
       FixedDistance(w, 2);
       FixedLiteral(w, 256);
       return w.Finish();
     },
     kStatusOk},
    {"DistanceThreeAfterTwoBytesIsInvalid",
     [] {
       BitWriter w;
       FixedHeader(w, true);
       FixedLiteral(w, 'k');
       FixedLiteral(w, 'l');
       FixedLength(w, 5);
       FixedDistance(w, 3);
       FixedLiteral(w, 256);
       return w.Finish();
     },
     kStatusInvalidCode},
    {"DistanceOfAWholeWindowAfterTwoBytesIsInvalid",
     [] {
       BitWriter w;
       FixedHeader(w, true);
       FixedLiteral(w, 'k');
       FixedLiteral(w, 'l');
       FixedLength(w, 5);
       FixedDistance(w, 32768);
       FixedLiteral(w, 256);
       return w.Finish();
     },
     kStatusInvalidCode},
    // zlib refuses a distance code with patterns free unless it is a single
    // 1-bit code; the decoder accepts it as the format's decoders of old do,
    // and refuses only the free patterns.
    {"IncompleteDistanceCodeDecodes",
     [] {
       return Dynamic(FiveBitLiterals(), {1, 2}, [](BitWriter &w, const DynamicCodes &codes) {
         codes.Literal(w, 'b');
         codes.Literal(w, 257);  // length 3
         codes.Distance(w, 1);   // distance 2
       });
     },
     kStatusOk, [] { return Bytes{'a', 'b', 'a', 'b', 'a'}; }},
    {"IncompleteDistanceCodesFreePatternIsInvalid",
     [] {
       return Dynamic(FiveBitLiterals(), {1, 2}, [](BitWriter &w, const DynamicCodes &codes) {
         codes.Literal(w, 'b');
         codes.Literal(w, 257);
         w.Code(3, 2);  // patterns 0 and 10 have symbols, 11 is free
       });
     },
     kStatusInvalidCode},
    {"SingleOneBitDistanceCodeDecodes",
     [] {
       return Dynamic(FiveBitLiterals(), {0, 0, 0, 1}, [](BitWriter &w, const DynamicCodes &codes) {
         codes.Literal(w, 'b');
         codes.Literal(w, 'c');
         codes.Literal(w, 'd');
         codes.Literal(w, 258);  // length 4
         codes.Distance(w, 3);   // distance 4
       });
     },
     kStatusOk},
    {"SingleOneBitDistanceCodesOtherPatternIsInvalid",
     [] {
       return Dynamic(FiveBitLiterals(), {0, 0, 0, 1}, [](BitWriter &w, const DynamicCodes &codes) {
         codes.Literal(w, 'b');
         codes.Literal(w, 258);
         w.Code(1, 1);
       });
     },
     kStatusInvalidCode},
    // (A complete code of the 30 distance symbols: zlib refuses a header
    // that lists 31 or 32 of them, the decoder only their use.)
    {"DistanceSymbol29",
     [] {
       std::vector<int> distances(30, 5);
       distances[0] = distances[1] = 4;
       BitWriter w;
       StoredRun(w, RandomBytes(30000, 7), false);
       DynamicCodes codes = WriteDynamicHeader(w, true, FiveBitLiterals(), distances);
       codes.Literal(w, 257);
       codes.Distance(w, 29);
       w.Bits(0, 13);  // distance 24,577
       codes.Literal(w, 256);
       return w.Finish();
     },
     kStatusOk},
    {"DistanceSymbol30IsInvalid",
     [] {
       return Dynamic(FiveBitLiterals(), std::vector<int>(32, 5),
                      [](BitWriter &w, const DynamicCodes &codes) {
                        codes.Literal(w, 257);
                        codes.Distance(w, 30);
                      });
     },
     kStatusInvalidCode},
    {"DistanceSymbol31IsInvalid",
     [] {
       return Dynamic(FiveBitLiterals(), std::vector<int>(32, 5),
                      [](BitWriter &w, const DynamicCodes &codes) {
                        codes.Literal(w, 257);
                        codes.Distance(w, 31);
                      });
     },
     kStatusInvalidCode},
    {"FixedDistanceSymbol30IsInvalidAndDecodingStopsThere",
     [] {
       // After the invalid code the bits read as a stored last block holding
       // "XYZ"; decoding must not go on to it.
       BitWriter w;
       FixedHeader(w, false);
       FixedLiteral(w, 'A');
       FixedLength(w, 3);
       w.Code(30, 5);
       Stored(w, true, {'X', 'Y', 'Z'});
       return w.Finish();
     },
     kStatusInvalidCode},
    {"LiteralSymbol286IsInvalid",
     [] {
       std::vector<int> lit(288, 0);
       lit['a'] = lit[256] = lit[286] = lit[287] = 2;
       return Dynamic(lit, {1}, [](BitWriter &w, const DynamicCodes &codes) {
         codes.Literal(w, 286);
         codes.Distance(w, 0);
       });
     },
     kStatusInvalidCode},
    {"LiteralSymbol287IsInvalid",
     [] {
       std::vector<int> lit(288, 0);
       lit['a'] = lit[256] = lit[286] = lit[287] = 2;
       return Dynamic(lit, {1}, [](BitWriter &w, const DynamicCodes &codes) {
         codes.Literal(w, 287);
         codes.Distance(w, 0);
       });
     },
     kStatusInvalidCode},
    {"DistanceCodeWithoutSymbolsServesLiterals",
     [] {
       return Dynamic(FiveBitLiterals(), {0},
                      [](BitWriter &w, const DynamicCodes &codes) { codes.Literal(w, 'd'); });
     },
     kStatusOk},
    {"DistanceCodeWithoutSymbolsIsInvalidWhenUsed",
     [] {
       return Dynamic(FiveBitLiterals(), {0}, [](BitWriter &w, const DynamicCodes &codes) {
         codes.Literal(w, 257);
         w.Bits(0, 8);
       });
     },
     kStatusInvalidCode},
    {"LiteralCodeWithoutSymbolsIsInvalid",
     [] {
       BitWriter w;
       WriteDynamicHeader(w, true, std::vector<int>(257, 0), {1});
       w.Bits(0, 16);
       return w.Finish();
     },
     kStatusInvalidCode},
    // Only the end of block, with a 1-bit code: an empty block; the other
    // pattern is invalid.
    {"LiteralCodeOfTheEndOfBlockAlone",
     [] {
       std::vector<int> lit(257, 0);
       lit[256] = 1;
       BitWriter w;
       WriteDynamicHeader(w, true, lit, {1});
       w.Code(0, 1);
       return w.Finish();
     },
     kStatusOk},
    {"LiteralCodeOfTheEndOfBlockAlonesOtherPatternIsInvalid",
     [] {
       std::vector<int> lit(257, 0);
       lit[256] = 1;
       BitWriter w;
       WriteDynamicHeader(w, true, lit, {1});
       w.Code(1, 1);
       w.Code(0, 1);
       return w.Finish();
     },
     kStatusInvalidCode},
    {"OversubscribedLiteralCode",
     [] {
       std::vector<int> lit(257, 0);
       lit[0] = lit[1] = lit[256] = 1;
       BitWriter w;
       WriteDynamicHeader(w, false, lit, {1});
       Stored(w, true, {'X'});
       return w.Finish();
     },
     kStatusOversubscribed},
    {"IncompleteLiteralCode",
     [] {
       std::vector<int> lit(257, 0);
       lit['a'] = 1;
       lit[256] = 2;
       BitWriter w;
       WriteDynamicHeader(w, false, lit, {1});
       Stored(w, true, {'X'});
       return w.Finish();
     },
     kStatusInvalidCode},
    {"CodeLengthCodeWithoutSymbolsIsInvalid",
     [] {
       BitWriter w;
       CodeLengthHeader(w, 257, 1, {0, 0, 0, 0});
       w.Bits(0, 32);
       return w.Finish();
     },
     kStatusInvalidCode},
    {"OversubscribedCodeLengthCode",
     [] {
       BitWriter w;
       CodeLengthHeader(w, 257, 1, {1, 1, 1, 1});
       w.Bits(0, 32);
       return w.Finish();
     },
     kStatusOversubscribed},
    // 256 zero lengths so far: two more fit, a run of 11 does not. With all
    // lengths 0 the block has no literal code, so it never decodes data.
    {"RepeatUpToTheLastLength",
     [] {
       return RepeatRuns([](BitWriter &w) {
         w.Code(0, 1);
         w.Code(0, 1);
       });
     },
     kStatusInvalidCode},
    {"RepeatPastTheLastLengthIsInvalid",
     [] {
       return RepeatRuns([](BitWriter &w) {
         w.Code(1, 1);
         w.Bits(0, 7);
       });
     },
     kStatusInvalidCode},
    {"StoredLengthWithoutItsComplement",
     [] {
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
       return w.Finish();
     },
     kStatusBadStoredLength},
    // A stored block that declares more bytes than the member has: the end
    // markers' one bits must not become 0xFF bytes.
    {"StoredBlockCutShort",
     [] {
       BitWriter w;
       Stored(w, true, RandomBytes(60000, 9));
       Bytes stream = w.Finish();
       return Bytes(stream.begin(), stream.end() - 100);
     },
     kStatusInputEnded},
    {"StoredBlocksLongerThanTheWindowCutShort",
     [] {
       BitWriter w;
       StoredRun(w, RandomBytes(600000, 15));
       Bytes stream = w.Finish();
       return Bytes(stream.begin(), stream.end() - 70000);
     },
     kStatusInputEnded},
    {"FixedBlockCutShort",
     [] {
       BitWriter w;
       FixedHeader(w, true);
       for (int i = 0; i < 10; ++i) FixedLiteral(w, 'm');
       return w.Finish();
     },
     kStatusInputEnded},
    // The member's bits and the end markers' read as literal 255 after
    // literal 255, without end, unless the decoder notices that it has gone
    // past the member's data.
    {"FixedBlockEndingInOneBits",
     [] {
       BitWriter w;
       FixedHeader(w, true);
       for (int i = 0; i < 10; ++i) FixedLiteral(w, 'm');
       w.Bits(0x1F, 5);
       return w.Finish();
     },
     kStatusInputEnded},
};

class Stream : public InflateTest, public testing::WithParamInterface<StreamRow> {};

TEST_P(Stream, DecodesAsZlibDoes) {
  const StreamRow &row = GetParam();
  Bytes expected;
  if (row.expected) expected = row.expected();
  ExpectAsZlib(row.stream(), row.status, row.expected ? &expected : nullptr);
}

INSTANTIATE_TEST_SUITE_P(Rows, Stream, testing::ValuesIn(kStreams),
                         [](const testing::TestParamInfo<StreamRow> &info) {
                           return std::string(info.param.name);
                         });

// Output that ends at, just before and just after each multiple of the
// window's size up to eight, and copies that run over each such multiple
// from before it (distance 100), overlapping (distance 3) and from a whole
// window back.
class WindowEdge : public InflateTest, public testing::WithParamInterface<int> {};

TEST_P(WindowEdge, StoredOutputEndingThere) {
  size_t edge = size_t(GetParam()) * 32768;
  for (size_t size : {edge - 1, edge, edge + 1}) {
    BitWriter w;
    StoredRun(w, RandomBytes(size, uint32_t(size)));
    ExpectAsZlib(w.Finish(), kStatusOk);
  }
}

TEST_P(WindowEdge, CopiesOverIt) {
  size_t edge = size_t(GetParam()) * 32768;
  ExpectAsZlib(StoredThenCopies(RandomBytes(edge - 10, 6), 258, {100, 3, 32768, 1, 40}),
               kStatusOk);
}

INSTANTIATE_TEST_SUITE_P(Multiples, WindowEdge, testing::Range(1, 9));

// The end markers may also read as a code nobody owns, which ends the
// member as well.
TEST_F(InflateTest, EveryTruncationOfARealStreamYieldsAPrefixOfItsOutput) {
  Bytes full = RawDeflate(TextBytes(300000, 10), 6, 0);
  for (size_t cut : {size_t(0), size_t(1), full.size() / 3, full.size() / 2, full.size() - 1}) {
    SCOPED_TRACE(cut);
    ExpectAsZlib(Bytes(full.begin(), full.begin() + long(cut)), kAnyFailure);
  }
}

class Streams : public InflateTest {};

TEST_F(Streams, ZeroCompressedCountNeverReadsTheFile) {
  Bytes stream = RawDeflate(TextBytes(100, 1), 6, 0);
  Decoded d = Decode(stream, 0, Bytes(3, 0));
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(3, d.readUpTo);
  d = Decode(stream, -12, Bytes(3, 0));  // an encrypted member shorter than its header
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(3, d.readUpTo);
}

TEST_F(Streams, InputEndingInsideABlockStopsReadingAtTheMembersEnd) {
  BitWriter w;
  Stored(w, true, RandomBytes(40000, 9));
  Bytes stream = w.Finish();
  Bytes cut(stream.begin(), stream.end() - 100);
  Decoded d = Decode(cut, kMemberSize, {}, Bytes(500, 0xFF));
  EXPECT_EQ(kStatusInputEnded, d.status);
  EXPECT_EQ((long long)cut.size(), d.readUpTo);
  BitWriter ones;
  FixedHeader(ones, true);
  for (int i = 0; i < 10; ++i) FixedLiteral(ones, 'm');
  ones.Bits(0x1F, 5);
  EXPECT_EQ(11, Decode(ones.Finish()).readUpTo);
}

TEST_F(Streams, DeclaredCountLongerThanTheFileEndsTheMember) {
  Bytes text = TextBytes(500000, 11);
  Bytes full = RawDeflate(text, 6, 0);
  Bytes cut(full.begin(), full.begin() + long(full.size() / 2));
  Decoded d = Decode(cut, (long long)full.size());
  EXPECT_EQ(kStatusInputEnded, d.status);
  EXPECT_LT(d.output.size(), text.size());
  EXPECT_TRUE(Bytes(text.begin(), text.begin() + long(d.output.size())) == d.output);
}

TEST_F(Streams, ShortWriteOnAnyFlushSetsTheErrorAndEnds) {
  Bytes data = TextBytes(2000000, 12);
  Bytes stream = RawDeflate(data, 6, 0);
  // A write before the last falls short; decoding stops there.
  host::LimitWrites(300000);
  Decoded d = Decode(stream);
  EXPECT_TRUE(d.ioError);
  EXPECT_EQ(kStatusWriteFailed, d.status);
  EXPECT_TRUE(Bytes(data.begin(), data.begin() + 300000) == d.output);
  EXPECT_EQ(Crc32(d.output), d.crc);
  EXPECT_LT(d.readUpTo, (long long)stream.size());
  // The final write falls short.
  state.ioError = 0;
  Bytes small = TextBytes(3 * 32768 + 500, 13);
  host::LimitWrites(3 * 32768 + 10);
  d = Decode(RawDeflate(small, 6, 0));
  EXPECT_TRUE(d.ioError);
  EXPECT_EQ(kStatusWriteFailed, d.status);
  EXPECT_TRUE(Bytes(small.begin(), small.begin() + 3 * 32768 + 10) == d.output);
  EXPECT_EQ(Crc32(d.output), d.crc);
  // The flag stays set through a later member that writes fully.
  host::LimitWrites(-1);
  d = Decode(RawDeflate(small, 6, 0));
  EXPECT_TRUE(d.ioError);
  EXPECT_EQ(kStatusOk, d.status);
  EXPECT_TRUE(small == d.output);
}

}  // namespace
