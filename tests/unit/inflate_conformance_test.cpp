// The decoder against zlib: every level and strategy over random, text and
// repetitive data, decoded through the package file as the stub reads it.
#include <gtest/gtest.h>
#include <zlib.h>

#include "inflate/inflate.h"
#include "inflate_harness.h"

using namespace inflate_test;

namespace {

struct Setting {
  const char *name;
  int level;
  int strategy;
};

const Setting kSettings[] = {
    {"default", 6, Z_DEFAULT_STRATEGY},
    {"fastest", 1, Z_DEFAULT_STRATEGY},
    {"best", 9, Z_DEFAULT_STRATEGY},
    {"filtered", 6, Z_FILTERED},
    {"huffman-only", 6, Z_HUFFMAN_ONLY},
    {"rle", 6, Z_RLE},
    {"fixed", 6, Z_FIXED},
    {"stored", 0, Z_DEFAULT_STRATEGY},
};

class Conformance : public InflateTest {
 protected:
  void Check(const Bytes &data, const char *what) {
    for (const Setting &s : kSettings) {
      Bytes stream = RawDeflate(data, s.level, s.strategy);
      // Junk after the member must never be read.
      Decoded d = Decode(stream, kMemberSize, Bytes(7, 0x55), Bytes(100, 0xAA));
      EXPECT_EQ(data.size(), d.output.size()) << what << " " << s.name;
      EXPECT_TRUE(data == d.output) << what << " " << s.name;
      EXPECT_EQ(testing_support::Crc32(data), d.crc) << what << " " << s.name;
      EXPECT_FALSE(d.ioError);
      EXPECT_EQ(kStatusOk, d.status) << what << " " << s.name;
      EXPECT_LE(d.readUpTo, (long long)(7 + stream.size())) << what << " " << s.name;
    }
  }
};

TEST_F(Conformance, SmallInputs) {
  Check({}, "empty");
  Check({'x'}, "one byte");
  Check(TextBytes(1000, 1), "short text");
}

TEST_F(Conformance, RandomData) {
  Check(RandomBytes(100000, 2), "random 100k");
  Check(RandomBytes(3 << 20, 3), "random 3M");
}

TEST_F(Conformance, TextData) {
  Check(TextBytes(65536, 4), "text 64k");
  Check(TextBytes(4 << 20, 5), "text 4M");
}

TEST_F(Conformance, RepetitiveData) {
  Check(RepetitiveBytes(32768, 6), "repetitive 32k");
  Check(Bytes(5 << 20, 'z'), "one byte 5M");
  Check(RepetitiveBytes(3 << 20, 7), "repetitive 3M");
}

TEST_F(Conformance, WindowBoundarySizes) {
  for (size_t size : {32767u, 32768u, 32769u, 65536u, 65537u}) {
    Check(TextBytes(size, uint32_t(size)), "boundary");
  }
}

TEST_F(Conformance, EveryLevel) {
  Bytes data = TextBytes(200000, 8);
  data.insert(data.end(), 50000, 0);
  Bytes random = RandomBytes(20000, 9);
  data.insert(data.end(), random.begin(), random.end());
  for (int level = 0; level <= 9; ++level) {
    Bytes stream = RawDeflate(data, level, Z_DEFAULT_STRATEGY);
    Decoded d = Decode(stream);
    EXPECT_TRUE(data == d.output) << "level " << level;
    EXPECT_EQ(kStatusOk, d.status) << "level " << level;
    EXPECT_EQ(testing_support::Crc32(data), d.crc);
  }
}

TEST_F(Conformance, CompressedSizeAcrossReadChunks) {
  // Members of exactly one read chunk, one byte more, and many chunks.
  Bytes data = RandomBytes(32768 - 5, 10);
  Bytes stream = RawDeflate(data, 0, Z_DEFAULT_STRATEGY);
  ASSERT_EQ(32768u, stream.size());
  EXPECT_TRUE(data == Decode(stream).output);
  data = RandomBytes(32768 - 4, 11);
  stream = RawDeflate(data, 0, Z_DEFAULT_STRATEGY);
  ASSERT_EQ(32769u, stream.size());
  Decoded d = Decode(stream, kMemberSize, {}, Bytes(10, 1));
  EXPECT_TRUE(data == d.output);
  EXPECT_EQ(32769, d.readUpTo);
}

}  // namespace
