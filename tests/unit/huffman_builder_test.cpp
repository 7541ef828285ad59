// The table builder: its documented cases, and random codes whose every
// symbol must decode back from its canonical bit pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "inflate/huffman.h"
#include "inflate_harness.h"

using namespace inflate_test;

namespace {

class Builder : public InflateTest {
 protected:
  void TearDown() override {
    FreeHuffmanTables(list_);
    InflateTest::TearDown();
  }

  int Build(const std::vector<int> &lengths, unsigned s, unsigned *m, const WORD *bases = nullptr,
            const BYTE *extras = nullptr) {
    std::vector<WORD> l(lengths.begin(), lengths.end());
    return BuildHuffmanTable(l.data(), unsigned(l.size()), s, bases, extras, &root_, &list_, m);
  }

  int ListLength() const {
    int n = 0;
    for (HuffmanEntry *t = list_; t; t = t[-1].subtable) ++n;
    return n;
  }

  // Decodes codes from `stream` one after another with the built tables.
  std::vector<const HuffmanEntry *> DecodeAll(const Bytes &stream, unsigned m, size_t count) {
    state.inputBuffer = const_cast<BYTE *>(stream.data());
    state.inputCount = DWORD(stream.size());
    state.inputPos = 0;
    state.bytesLeft = LONG(stream.size());
    DWORD b = 0;
    unsigned k = 0;
    std::vector<const HuffmanEntry *> out;
    for (size_t i = 0; i < count; ++i) out.push_back(DecodeSymbol(root_, m, b, k));
    state.inputBuffer = nullptr;
    return out;
  }

  const HuffmanEntry *DecodeOne(uint32_t code, int length, unsigned m) {
    BitWriter w;
    w.Code(code, length);
    w.Bits(0, 16);
    return DecodeAll(w.Finish(), m, 1)[0];
  }

  HuffmanEntry *root_ = nullptr;
  HuffmanEntry *list_ = nullptr;
};

std::vector<int> FixedLiteralLengths() {
  std::vector<int> l(288);
  for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return l;
}

TEST_F(Builder, AllLengthsZeroBuildsNothing) {
  unsigned m = 7;
  EXPECT_EQ(kBuildComplete, Build(std::vector<int>(19, 0), 19, &m));
  EXPECT_EQ(nullptr, root_);
  EXPECT_EQ(nullptr, list_);
  EXPECT_EQ(0u, m);
  EXPECT_EQ(nullptr, DecodeOne(0, 1, m));
}

TEST_F(Builder, OneSymbolOfOneBitLeavesItsOtherPatternInvalid) {
  std::vector<int> l(19, 0);
  l[5] = 1;
  unsigned m = 7;
  EXPECT_EQ(kBuildComplete, Build(l, 19, &m));
  EXPECT_EQ(1u, m);
  EXPECT_EQ(1, ListLength());
  EXPECT_EQ(kOpLiteral, root_[0].op);
  EXPECT_EQ(5, root_[0].value);
  EXPECT_EQ(1, root_[0].bits);
  EXPECT_EQ(kOpInvalid, root_[1].op);
  EXPECT_EQ(nullptr, DecodeOne(1, 1, m));
}

TEST_F(Builder, FixedLiteralCodeTables) {
  unsigned m = 7;
  EXPECT_EQ(kBuildComplete, Build(FixedLiteralLengths(), 257, &m, lengthBase, lengthExtra));
  EXPECT_EQ(7u, m);
  std::set<HuffmanEntry *> twos, fours;
  int leaves = 0;
  for (int i = 0; i < 128; ++i) {
    if (root_[i].op == 17)
      twos.insert(root_[i].subtable);
    else if (root_[i].op == 18)
      fours.insert(root_[i].subtable);
    else
      ++leaves;
  }
  EXPECT_EQ(76u, twos.size());
  EXPECT_EQ(28u, fours.size());
  EXPECT_EQ(24, leaves);
  EXPECT_EQ(1 + 76 + 28, ListLength());
  // Symbols of each length decode to their meaning.
  std::vector<uint32_t> codes = CanonicalCodes(FixedLiteralLengths());
  std::vector<int> lengths = FixedLiteralLengths();
  for (int symbol : {0, 143, 144, 255}) {
    const HuffmanEntry *e = DecodeOne(codes[symbol], lengths[symbol], m);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(kOpLiteral, e->op);
    EXPECT_EQ(symbol, e->value);
  }
  const HuffmanEntry *end = DecodeOne(codes[256], 7, m);
  ASSERT_NE(nullptr, end);
  EXPECT_EQ(kOpEndOfBlock, end->op);
  const HuffmanEntry *len = DecodeOne(codes[284], 8, m);  // lengths 227..258
  ASSERT_NE(nullptr, len);
  EXPECT_EQ(5, len->op);
  EXPECT_EQ(227, len->value);
  EXPECT_EQ(nullptr, DecodeOne(codes[286], 8, m));
  EXPECT_EQ(nullptr, DecodeOne(codes[287], 8, m));
}

TEST_F(Builder, FixedDistanceCodeIsIncomplete) {
  unsigned m = 5;
  EXPECT_EQ(kBuildIncomplete, Build(std::vector<int>(30, 5), 0, &m, distanceBase, distanceExtra));
  EXPECT_EQ(5u, m);
  EXPECT_EQ(1, ListLength());
  const HuffmanEntry *e = DecodeOne(29, 5, m);
  ASSERT_NE(nullptr, e);
  EXPECT_EQ(13, e->op);
  EXPECT_EQ(24577, e->value);
  e = DecodeOne(4, 5, m);
  ASSERT_NE(nullptr, e);
  EXPECT_EQ(1, e->op);
  EXPECT_EQ(5, e->value);
  EXPECT_EQ(nullptr, DecodeOne(30, 5, m));
  EXPECT_EQ(nullptr, DecodeOne(31, 5, m));
}

TEST_F(Builder, LookupBitsRaisedToTheShortestAndLoweredToTheLongest) {
  unsigned m = 1;
  EXPECT_EQ(kBuildComplete, Build({2, 2, 2, 2}, 4, &m));
  EXPECT_EQ(2u, m);
  // Kept at the shortest length even when longer codes would fill a larger
  // root: they go into a sub-table.
  FreeHuffmanTables(list_);
  list_ = nullptr;
  m = 1;
  EXPECT_EQ(kBuildComplete, Build({1, 2, 2}, 3, &m));
  EXPECT_EQ(1u, m);
  EXPECT_EQ(2, ListLength());
  EXPECT_EQ(17, root_[1].op);
  FreeHuffmanTables(list_);
  list_ = nullptr;
  m = 9;
  EXPECT_EQ(kBuildComplete, Build({1, 2, 3, 3}, 4, &m));
  EXPECT_EQ(3u, m);
}

TEST_F(Builder, RootIsCutSoThatTheEndOfBlockCodeEndsAtItsBoundary) {
  std::vector<int> l(259, 0);
  for (int i = 0; i < 7; ++i) l[i] = i + 1;
  l[256] = 8;
  l[257] = l[258] = 9;
  unsigned m = 9;
  EXPECT_EQ(kBuildComplete, Build(l, 257, &m, lengthBase, lengthExtra));
  EXPECT_EQ(8u, m);
  EXPECT_EQ(2, ListLength());
  std::vector<uint32_t> codes = CanonicalCodes(l);
  const HuffmanEntry *e = DecodeOne(codes[258], 9, m);
  ASSERT_NE(nullptr, e);
  EXPECT_EQ(0, e->op);
  EXPECT_EQ(4, e->value);
  e = DecodeOne(codes[256], 8, m);
  ASSERT_NE(nullptr, e);
  EXPECT_EQ(kOpEndOfBlock, e->op);
}

TEST_F(Builder, OversubscribedCodeAllocatesNothing) {
  HuffmanEntry sentinel;
  root_ = &sentinel;
  unsigned m = 7;
  EXPECT_EQ(kBuildOversubscribed, Build({1, 1, 2}, 3, &m));
  EXPECT_EQ(&sentinel, root_);
  EXPECT_EQ(nullptr, list_);
  root_ = nullptr;
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
    unsigned m = 1 + rng() % 12;
    FreeHuffmanTables(list_);
    list_ = nullptr;
    int result = Build(lengths, unsigned(symbols), &m);
    std::vector<uint32_t> codes = CanonicalCodes(lengths);
    BitWriter w;
    std::vector<int> sent;
    for (int i = 0; i < 600; ++i) {
      size_t s = rng() % symbols;
      if (!lengths[s]) continue;
      w.Code(codes[s], lengths[s]);
      sent.push_back(int(s));
    }
    w.Bits(0, 32);
    std::vector<const HuffmanEntry *> got = DecodeAll(w.Finish(), m, sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
      ASSERT_NE(nullptr, got[i]) << round << " " << i;
      ASSERT_EQ(sent[i], got[i]->value) << round;
      ASSERT_EQ(sent[i] < 256 ? kOpLiteral : kOpEndOfBlock, got[i]->op);
    }
    // An incomplete code whose longest code has one bit counts as complete.
    int longest = *std::max_element(lengths.begin(), lengths.end());
    bool complete = !dropOne || longest == 1;
    EXPECT_EQ(complete ? kBuildComplete : kBuildIncomplete, result) << round;
  }
}

}  // namespace
