#include "inflate_harness.h"

#include <zlib.h>

#include <algorithm>
#include <random>

#include "inflate/inflate.h"
#include "platform/driver.h"

namespace inflate_test {

void BitWriter::Bits(uint32_t value, int count) {
  for (int i = 0; i < count; ++i) {
    pending_ |= ((value >> i) & 1u) << pendingBits_;
    if (++pendingBits_ == 8) {
      bytes_.push_back(uint8_t(pending_));
      pending_ = 0;
      pendingBits_ = 0;
    }
  }
}

void BitWriter::Code(uint32_t code, int length) {
  for (int i = length - 1; i >= 0; --i) Bits((code >> i) & 1u, 1);
}

void BitWriter::AlignToByte() {
  if (pendingBits_) Bits(0, 8 - pendingBits_);
}

void BitWriter::Byte(uint8_t b) { Bits(b, 8); }

Bytes BitWriter::Finish() {
  AlignToByte();
  return bytes_;
}

void FixedLiteral(BitWriter &out, int symbol) {
  if (symbol < 144) {
    out.Code(0x30 + symbol, 8);
  } else if (symbol < 256) {
    out.Code(0x190 + symbol - 144, 9);
  } else if (symbol < 280) {
    out.Code(symbol - 256, 7);
  } else {
    out.Code(0xC0 + symbol - 280, 8);
  }
}

SymbolAndExtra LengthSymbol(int length) {
  if (length == 258) return {285, 0, 0};
  // Lengths 3..10 have no extra bits; then groups of four codes per extra bit.
  int base = 3, symbol = 257;
  for (int extra = 0; extra <= 5; ++extra) {
    int codes = extra == 0 ? 8 : 4;
    for (int i = 0; i < codes; ++i, ++symbol) {
      if (length < base + (1 << extra)) return {symbol, extra, length - base};
      base += 1 << extra;
    }
  }
  return {-1, 0, 0};
}

SymbolAndExtra DistanceSymbol(int distance) {
  int base = 1, symbol = 0;
  for (int extra = 0; extra <= 13; ++extra) {
    int codes = extra == 0 ? 4 : 2;
    for (int i = 0; i < codes; ++i, ++symbol) {
      if (distance < base + (1 << extra)) return {symbol, extra, distance - base};
      base += 1 << extra;
    }
  }
  return {-1, 0, 0};
}

void FixedLength(BitWriter &out, int length) {
  SymbolAndExtra s = LengthSymbol(length);
  FixedLiteral(out, s.symbol);
  out.Bits(s.extraValue, s.extraBits);
}

void FixedDistance(BitWriter &out, int distance) {
  SymbolAndExtra s = DistanceSymbol(distance);
  out.Code(s.symbol, 5);
  out.Bits(s.extraValue, s.extraBits);
}

std::vector<uint32_t> CanonicalCodes(const std::vector<int> &lengths) {
  int count[17] = {0};
  for (int l : lengths) count[l]++;
  count[0] = 0;
  uint32_t next[17] = {0}, code = 0;
  for (int bits = 1; bits <= 16; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i) {
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  }
  return codes;
}

void DynamicCodes::Literal(BitWriter &out, int symbol) const {
  out.Code(literal[symbol], literalLengths[symbol]);
}

void DynamicCodes::Distance(BitWriter &out, int symbol) const {
  out.Code(distance[symbol], distanceLengths[symbol]);
}

DynamicCodes WriteDynamicHeader(BitWriter &out, bool last, const std::vector<int> &literalLengths,
                                const std::vector<int> &distanceLengths) {
  out.Bits(last ? 1 : 0, 1);
  out.Bits(2, 2);
  out.Bits(uint32_t(literalLengths.size() - 257), 5);
  out.Bits(uint32_t(distanceLengths.size() - 1), 5);
  out.Bits(19 - 4, 4);
  // Code-length symbols 0..15 get 4-bit codes, the repeat symbols none.
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (int symbol : order) out.Bits(symbol < 16 ? 4 : 0, 3);
  for (int l : literalLengths) out.Code(uint32_t(l), 4);
  for (int l : distanceLengths) out.Code(uint32_t(l), 4);
  DynamicCodes codes;
  codes.literalLengths = literalLengths;
  codes.distanceLengths = distanceLengths;
  codes.literal = CanonicalCodes(literalLengths);
  codes.distance = CanonicalCodes(distanceLengths);
  return codes;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto &b : out) b = uint8_t(rng());
  return out;
}

Bytes TextBytes(size_t size, uint32_t seed) {
  static const char *words[] = {"the",   "setup",  "program",  "extracts", "files", "into",
                                "a",     "folder", "and",      "then",     "runs",  "its",
                                "INF",   "script", "window",   "of",       "bytes", "which",
                                "codes", "length", "distance", "block",    "end",   "table"};
  std::mt19937 rng(seed);
  std::string text;
  while (text.size() < size) {
    text += words[rng() % (sizeof words / sizeof *words)];
    text += rng() % 12 == 0 ? ".\r\n" : " ";
  }
  text.resize(size);
  return Bytes(text.begin(), text.end());
}

Bytes RepetitiveBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    // Long runs of one byte and short repeated patterns.
    if (rng() % 2) {
      out.insert(out.end(), 1 + rng() % 3000, uint8_t(rng()));
    } else {
      Bytes pattern(1 + rng() % 7);
      for (auto &b : pattern) b = uint8_t(rng());
      for (int n = 1 + int(rng() % 400); n-- > 0;)
        out.insert(out.end(), pattern.begin(), pattern.end());
    }
  }
  out.resize(size);
  return out;
}

ZlibVerdict Zlib(const Bytes &stream) {
  ZlibVerdict v;
  v.accepts = RawInflate(stream, &v.output);
  return v;
}

Bytes WindowFiller() {
  static const Bytes filler = [] {
    Bytes data = RandomBytes(300000, 77);
    return RawDeflate(data, 0, Z_DEFAULT_STRATEGY);
  }();
  return filler;
}

void InflateTest::ExpectAsZlib(const Bytes &stream, int status, const Bytes *expected,
                               bool zlibAccepts) {
  ZlibVerdict zlib = Zlib(stream);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "first decode" : "decoded again");
    ASSERT_EQ(kStatusOk, Decode(WindowFiller()).status);
    Decoded d = Decode(stream, kMemberSize, {}, Bytes(64, 0xA5));
    if (status == kAnyFailure) {
      EXPECT_NE(kStatusOk, d.status);
    } else {
      EXPECT_EQ(status, d.status);
    }
    EXPECT_FALSE(d.ioError);
    EXPECT_LE(d.readUpTo, (long long)stream.size());
    if (status == kStatusOk) {
      const Bytes &want = expected ? *expected : zlib.output;
      EXPECT_TRUE(want == d.output) << d.output.size() << " bytes, not " << want.size();
      EXPECT_EQ(testing_support::Crc32(want), d.crc);
      EXPECT_EQ(expected ? zlibAccepts : true, zlib.accepts);
    } else {
      EXPECT_EQ(zlibAccepts, zlib.accepts);
      ASSERT_LE(d.output.size(), zlib.output.size());
      EXPECT_TRUE(std::equal(d.output.begin(), d.output.end(), zlib.output.begin()));
    }
  }
}

void InflateTest::SetUp() {
  HostMachine::SetUp();
  PrepareProgram();
}

Decoded InflateTest::Decode(const Bytes &member, long long declared, const Bytes &before,
                            const Bytes &after) {
  Bytes file = before;
  file.insert(file.end(), member.begin(), member.end());
  file.insert(file.end(), after.begin(), after.end());
  WriteFile("package.bin", file);
  state.packageFile = CreateFileA("C:\\package.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, state.packageFile);
  SetFilePointer(state.packageFile, LONG(before.size()), nullptr, FILE_BEGIN);
  state.bytesLeft = LONG(declared == kMemberSize ? (long long)member.size() : declared);
  return DecodePrepared();
}

Decoded InflateTest::DecodePrepared() {
  state.outFile = CreateFileA("C:\\output.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, state.outFile);
  state.memberCrc = 0xFFFFFFFF;
  int blocksBefore = host::LiveBlocks();
  int status = InflateMember();
  // Every block of the member, the fixed tables included, is released.
  EXPECT_EQ(blocksBefore, host::LiveBlocks());
  Decoded d;
  d.status = status;
  d.readUpTo = SetFilePointer(state.packageFile, 0, nullptr, FILE_CURRENT);
  CloseHandle(state.outFile);
  CloseHandle(state.packageFile);
  d.output = ReadFile("output.bin");
  d.crc = state.memberCrc ^ 0xFFFFFFFF;
  d.ioError = state.ioError != 0;
  return d;
}

}  // namespace inflate_test
