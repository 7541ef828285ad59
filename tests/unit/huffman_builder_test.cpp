// The table builder: its documented cases, the room its tables take, and
// random codes whose every symbol must decode back from its canonical bit
// pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "inflate/huffman_tables.h"
#include "inflate_harness.h"

using namespace inflate_test;

namespace {

class Builder : public InflateTest {
 protected:
  CodeShape Build(const std::vector<int> &lengths, CodeKind kind, unsigned rootBits,
                  unsigned capacity = 0) {
    std::vector<BYTE> l(lengths.begin(), lengths.end());
    rootBits_ = rootBits;
    table_.assign(capacity ? capacity : TableCapacity(rootBits, unsigned(l.size())), kUnwritten);
    return BuildHuffmanTable(l.data(), unsigned(l.size()), kind, table_.data(), rootBits,
                             unsigned(table_.size()));
  }

  // Decodes codes from `stream` one after another with the built table.
  std::vector<DWORD> DecodeAll(const Bytes &stream, size_t count) {
    Bytes padded = stream;
    padded.resize(padded.size() + 16);
    bitInput = BitInput{};
    bitInput.next = padded.data();
    bitInput.end = padded.data() + padded.size();
    std::vector<DWORD> out;
    for (size_t i = 0; i < count; ++i) {
      NeedBits(kMaxCodeBits, bitInput);
      out.push_back(DecodeEntry(table_.data(), rootBits_, bitInput));
    }
    bitInput = BitInput{};
    return out;
  }

  DWORD DecodeOne(uint32_t code, int length) {
    BitWriter w;
    w.Code(code, length);
    return DecodeAll(w.Finish(), 1)[0];
  }

  // Entries the builder wrote: every index of the root, and of each
  // sub-table a root entry points to.
  size_t EntriesUsed() const {
    size_t used = size_t(1) << rootBits_;
    for (size_t i = 0; i < (size_t(1) << rootBits_); ++i) {
      if (table_[i] & kEntrySubtable) used += size_t(1) << EntryCodeBits(table_[i]);
    }
    return used;
  }

  static constexpr DWORD kUnwritten = 0xDEADBEEF;
  std::vector<DWORD> table_;
  unsigned rootBits_ = 0;
};

bool IsInvalid(DWORD entry) {
  return (entry & kEntryExceptional) && !(entry & (kEntrySubtable | kEntryEndOfBlock));
}

std::vector<int> FixedLiteralLengths() {
  std::vector<int> l(288);
  for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return l;
}

TEST_F(Builder, AllLengthsZeroMakeEveryPatternInvalid) {
  EXPECT_EQ(kCodeEmpty, Build(std::vector<int>(19, 0), kCodeLengthCode, 7));
  EXPECT_EQ(size_t(128), EntriesUsed());
  for (size_t i = 0; i < 128; ++i) EXPECT_TRUE(IsInvalid(table_[i]));
  EXPECT_TRUE(IsInvalid(DecodeOne(0, 1)));
}

TEST_F(Builder, OneSymbolOfOneBitLeavesItsOtherPatternInvalid) {
  std::vector<int> l(19, 0);
  l[5] = 1;
  EXPECT_EQ(kCodeSingle, Build(l, kCodeLengthCode, 7));
  DWORD entry = DecodeOne(0, 1);
  EXPECT_EQ(5u, EntryValue(entry));
  EXPECT_EQ(1u, EntryCodeBits(entry));
  EXPECT_FALSE(entry & kEntryExceptional);
  EXPECT_TRUE(IsInvalid(DecodeOne(1, 1)));
}

TEST_F(Builder, FixedLiteralCodeNeedsNoSubtables) {
  EXPECT_EQ(kCodeComplete, Build(FixedLiteralLengths(), kLiteralLengthCode, 10));
  EXPECT_EQ(size_t(1024), EntriesUsed());
  std::vector<uint32_t> codes = CanonicalCodes(FixedLiteralLengths());
  std::vector<int> lengths = FixedLiteralLengths();
  for (int symbol : {0, 143, 144, 255}) {
    DWORD e = DecodeOne(codes[symbol], lengths[symbol]);
    EXPECT_TRUE(e & kEntryLiteral) << symbol;
    EXPECT_EQ(unsigned(symbol), (e >> 16) & 0xFF);
    EXPECT_EQ(unsigned(lengths[symbol]), EntryBits(e));
  }
  DWORD end = DecodeOne(codes[256], 7);
  EXPECT_TRUE(end & kEntryEndOfBlock);
  EXPECT_EQ(7u, EntryBits(end));
  // Symbol 284: lengths 227..258, its five extra bits dropped with its code.
  DWORD length = DecodeOne(codes[284], 8);
  EXPECT_EQ(227u, EntryValue(length));
  EXPECT_EQ(8u, EntryCodeBits(length));
  EXPECT_EQ(13u, EntryBits(length));
  DWORD longest = DecodeOne(codes[285], 8);
  EXPECT_EQ(258u, EntryValue(longest));
  EXPECT_EQ(8u, EntryBits(longest));
  EXPECT_TRUE(IsInvalid(DecodeOne(codes[286], 8)));
  EXPECT_TRUE(IsInvalid(DecodeOne(codes[287], 8)));
}

TEST_F(Builder, FixedDistanceCodeIsIncomplete) {
  EXPECT_EQ(kCodeIncomplete, Build(std::vector<int>(30, 5), kDistanceCode, 8));
  EXPECT_EQ(size_t(256), EntriesUsed());
  DWORD e = DecodeOne(29, 5);
  EXPECT_EQ(24577u, EntryValue(e));
  EXPECT_EQ(5u + 13u, EntryBits(e));
  e = DecodeOne(4, 5);
  EXPECT_EQ(5u, EntryValue(e));
  EXPECT_EQ(5u + 1u, EntryBits(e));
  EXPECT_TRUE(IsInvalid(DecodeOne(30, 5)));
  EXPECT_TRUE(IsInvalid(DecodeOne(31, 5)));
}

TEST_F(Builder, DistanceSymbolsThirtyAndThirtyOneAreInvalid) {
  EXPECT_EQ(kCodeComplete, Build(std::vector<int>(32, 5), kDistanceCode, 8));
  EXPECT_FALSE(DecodeOne(29, 5) & kEntryExceptional);
  EXPECT_TRUE(IsInvalid(DecodeOne(30, 5)));
  EXPECT_TRUE(IsInvalid(DecodeOne(31, 5)));
}

TEST_F(Builder, LongCodesGoToSubtablesSizedToThem) {
  // 1..9-bit codes for symbols 0..8 and two 10-bit codes: with 8 root bits,
  // the 9- and 10-bit codes share one sub-table of 2 index bits.
  std::vector<int> l(259, 0);
  for (int i = 0; i < 9; ++i) l[i] = i + 1;
  l[256] = 10;
  l[257] = 10;
  EXPECT_EQ(kCodeComplete, Build(l, kLiteralLengthCode, 8));
  EXPECT_EQ(size_t(256 + 4), EntriesUsed());
  std::vector<uint32_t> codes = CanonicalCodes(l);
  DWORD e = DecodeOne(codes[257], 10);
  EXPECT_EQ(3u, EntryValue(e));  // length symbol 257: length 3
  EXPECT_EQ(2u, EntryCodeBits(e));
  EXPECT_TRUE(DecodeOne(codes[256], 10) & kEntryEndOfBlock);
  e = DecodeOne(codes[8], 9);
  EXPECT_EQ(8u, (e >> 16) & 0xFF);
  EXPECT_EQ(1u, EntryCodeBits(e));
}

TEST_F(Builder, OversubscribedCodeWritesNothing) {
  EXPECT_EQ(kCodeOversubscribed, Build({1, 1, 2}, kCodeLengthCode, 7));
  for (DWORD entry : table_) EXPECT_EQ(kUnwritten, entry);
}

// The most room a table can take: every code longer than the root, in as
// many filled sub-tables of the largest size as the symbols allow (codes of
// lengths root+1 .. 14 and two of 15 fill one), and a last, incomplete one.
TEST_F(Builder, WorstCaseCodesFitTheirCapacity) {
  for (unsigned rootBits : {8u, 10u}) {
    for (unsigned symbols : {30u, 32u, 288u}) {
      std::vector<int> l(symbols, 0);
      unsigned s = 0;
      while (s + (kMaxCodeBits - rootBits) + 1 <= symbols) {
        for (unsigned len = rootBits + 1; len < kMaxCodeBits; ++len) l[s++] = int(len);
        l[s++] = kMaxCodeBits;
        l[s++] = kMaxCodeBits;
      }
      while (s < symbols) l[s++] = kMaxCodeBits;
      unsigned capacity = TableCapacity(rootBits, symbols);
      CodeShape shape = Build(l, kCodeLengthCode, rootBits, capacity);
      ASSERT_NE(kCodeOversubscribed, shape) << rootBits << " " << symbols;
      EXPECT_LE(EntriesUsed(), capacity);
      std::vector<uint32_t> codes = CanonicalCodes(l);
      for (unsigned symbol = 0; symbol < symbols; ++symbol) {
        ASSERT_EQ(symbol, EntryValue(DecodeOne(codes[symbol], l[symbol]))) << symbol;
      }
    }
  }
}

// Random complete codes: split leaves of a code tree until there are n.
std::vector<int> RandomCompleteLengths(std::mt19937 &rng, size_t symbols, size_t coded,
                                       int maxLength) {
  std::vector<int> leaves = {0};
  while (leaves.size() < coded) {
    size_t i = rng() % leaves.size();
    if (leaves[i] >= maxLength) continue;
    int l = ++leaves[i];
    leaves.push_back(l);
  }
  std::vector<int> lengths(symbols, 0);
  std::vector<size_t> order(symbols);
  for (size_t i = 0; i < symbols; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  for (size_t i = 0; i < coded; ++i) lengths[order[i]] = leaves[i];
  return lengths;
}

TEST_F(Builder, EverySymbolOfRandomCodesDecodesFromItsPattern) {
  std::mt19937 rng(3);
  for (int round = 0; round < 300; ++round) {
    size_t symbols = 2 + rng() % 287;
    size_t coded = 2 + rng() % (symbols - 1);
    std::vector<int> lengths = RandomCompleteLengths(rng, symbols, coded, 15);
    bool dropOne = round % 3 == 0;  // make it incomplete
    if (dropOne) {
      for (auto &l : lengths) {
        if (l > 1) {
          l = 0;
          break;
        }
      }
    }
    unsigned rootBits = 1 + rng() % 11;
    CodeShape shape = Build(lengths, kCodeLengthCode, rootBits);
    EXPECT_LE(EntriesUsed(), table_.size());
    for (size_t i = 0; i < EntriesUsed(); ++i) ASSERT_NE(kUnwritten, table_[i]) << round;
    std::vector<uint32_t> codes = CanonicalCodes(lengths);
    BitWriter w;
    std::vector<int> sent;
    for (int i = 0; i < 600; ++i) {
      size_t s = rng() % symbols;
      if (!lengths[s]) continue;
      w.Code(codes[s], lengths[s]);
      sent.push_back(int(s));
    }
    std::vector<DWORD> got = DecodeAll(w.Finish(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
      ASSERT_FALSE(got[i] & kEntryExceptional) << round << " " << i;
      ASSERT_EQ(unsigned(sent[i]), EntryValue(got[i])) << round;
    }
    // With only 1-bit codes there was nothing to drop.
    int longest = *std::max_element(lengths.begin(), lengths.end());
    bool complete = !dropOne || longest == 1;
    EXPECT_EQ(complete ? kCodeComplete : kCodeIncomplete, shape) << round;
  }
}

}  // namespace
