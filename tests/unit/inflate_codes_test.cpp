// The decoder's prefix codes, built from a dynamic block's code lengths and
// tried through InflateMember with zlib as the control: codes as deep as
// the format allows, the shapes that need the most sub-tables, and random
// codes whose every symbol is used.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "inflate/inflate.h"
#include "inflate_harness.h"

using namespace inflate_test;

namespace {

// A block's worth of symbols written with a dynamic block's codes, and the
// bytes they stand for.
class Writer {
 public:
  Writer(const std::vector<int> &literals, const std::vector<int> &distances)
      : codes_(WriteDynamicHeader(out_, true, literals, distances)) {}

  void Literal(int symbol) {
    codes_.Literal(out_, symbol);
    plain_.push_back(uint8_t(symbol));
  }

  // A copy with length symbol `lengthSymbol` (257..285) and distance symbol
  // `distanceSymbol` (0..29), the extra bits of each chosen by `pick`; false
  // (and nothing written) when the distance reaches before the output.
  bool Copy(int lengthSymbol, int distanceSymbol, uint32_t pick) {
    static const int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,     13,    17,   25,
                                          33,   49,   65,   97,   129,  193,  257,   385,   513,  769,
                                          1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    int lengthExtra = LengthSymbol(kLengthBase[lengthSymbol - 257]).extraBits;
    int distanceExtra = DistanceSymbol(kDistanceBase[distanceSymbol]).extraBits;
    int length = kLengthBase[lengthSymbol - 257] + int(pick % (1u << lengthExtra));
    int distance = kDistanceBase[distanceSymbol] + int((pick >> 5) % (1u << distanceExtra));
    if (distance > int(plain_.size())) distance = kDistanceBase[distanceSymbol];
    if (distance > int(plain_.size())) return false;
    codes_.Literal(out_, lengthSymbol);
    out_.Bits(uint32_t(length - kLengthBase[lengthSymbol - 257]), lengthExtra);
    codes_.Distance(out_, distanceSymbol);
    out_.Bits(uint32_t(distance - kDistanceBase[distanceSymbol]), distanceExtra);
    for (int i = 0; i < length; ++i) plain_.push_back(plain_[plain_.size() - size_t(distance)]);
    return true;
  }

  size_t Size() const { return plain_.size(); }

  Bytes Finish(Bytes *plain) {
    codes_.Literal(out_, 256);
    *plain = plain_;
    return out_.Finish();
  }

 private:
  BitWriter out_;
  DynamicCodes codes_;
  Bytes plain_;
};

std::vector<int> Coded(const std::vector<int> &lengths, int from, int to) {
  std::vector<int> symbols;
  for (int s = from; s < to && s < int(lengths.size()); ++s) {
    if (lengths[size_t(s)]) symbols.push_back(s);
  }
  return symbols;
}

// Uses every literal, length and distance symbol the codes give (lengths
// 286, 287 and distances 30, 31 mean nothing and stay out), each literal
// twice and each length with each distance that reaches into the output.
Bytes EverySymbol(const std::vector<int> &literals, const std::vector<int> &distances,
                  Bytes *plain) {
  Writer w(literals, distances);
  std::vector<int> lits = Coded(literals, 0, 256), lengths = Coded(literals, 257, 286);
  std::vector<int> dists = Coded(distances, 0, 30);
  for (int round = 0; round < 2; ++round) {
    for (int s : lits) w.Literal(s);
  }
  uint32_t pick = 12345;
  for (size_t i = 0; i < std::max(lengths.size(), dists.size()); ++i) {
    int d = dists.empty() ? -1 : dists[i % dists.size()];
    int l = lengths.empty() ? -1 : lengths[i % lengths.size()];
    static const int kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,     13,    17,   25,
                                          33,   49,   65,   97,   129,  193,  257,   385,   513,  769,
                                          1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    if (d < 0 || l < 0) break;
    // Literals enough for the distance to reach.
    while (w.Size() < size_t(kDistanceBase[d]) && !lits.empty()) w.Literal(lits[w.Size() % lits.size()]);
    if (w.Size() < size_t(kDistanceBase[d])) continue;
    w.Copy(l, d, pick);
    pick = pick * 1103515245u + 12345u;
  }
  return w.Finish(plain);
}

// Lengths 1, 2, ..., 14, 15, 15 for the symbols in `order`: a complete code
// whose longest codes are as long as the format allows.
std::vector<int> Deepest(size_t size, const std::vector<int> &order) {
  std::vector<int> lengths(size, 0);
  for (size_t i = 0; i < order.size(); ++i) lengths[size_t(order[i])] = std::min(int(i) + 1, 15);
  return lengths;
}

// The most sub-table room a code of `symbols` can take with `rootBits` root
// bits: every code longer than the root, in groups of lengths root+1 .. 14
// and two of 15 (each group fills one largest sub-table), and the symbols
// left over at 15. Never complete.
std::vector<int> MostSubtables(unsigned rootBits, size_t symbols) {
  std::vector<int> lengths(symbols, 0);
  size_t s = 0;
  while (s + (15 - rootBits) + 1 <= symbols) {
    for (unsigned length = rootBits + 1; length < 15; ++length) lengths[s++] = int(length);
    lengths[s++] = 15;
    lengths[s++] = 15;
  }
  while (s < symbols) lengths[s++] = 15;
  return lengths;
}

// A simple complete literal/length code: 'a'..'p', the end of block and
// lengths 257..271, 5 bits each.
std::vector<int> FiveBitLiterals() {
  std::vector<int> lit(272, 0);
  for (int c = 'a'; c <= 'p'; ++c) lit[size_t(c)] = 5;
  for (int s = 256; s < 272; ++s) lit[size_t(s)] = 5;
  return lit;
}

// A complete code of `size` symbols with the lengths `wanted` gives, the
// other patterns owned by further symbols taken in `fillers` order, one per
// set bit of what is left.
std::vector<int> CompleteWith(size_t size, const std::vector<std::pair<int, int>> &wanted,
                              const std::vector<int> &fillers) {
  std::vector<int> lengths(size, 0);
  uint32_t used = 0;  // in units of 2^-15
  for (auto [symbol, length] : wanted) {
    lengths[size_t(symbol)] = length;
    used += 1u << (15 - length);
  }
  uint32_t left = (1u << 15) - used;
  size_t next = 0;
  for (int length = 1; length <= 15; ++length) {
    if (left & (1u << (15 - length))) lengths[size_t(fillers[next++])] = length;
  }
  return lengths;
}

class Codes : public InflateTest {};

// The longest codes and most extra bits in a row: literals, a length and a
// distance that together take nearly all the bits a refill gives.
TEST_F(Codes, LongestCodesBackToBack) {
  std::vector<int> literals = CompleteWith(
      286, {{'x', 10}, {'y', 11}, {284, 10}, {283, 12}, {256, 12}},
      {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o'});
  std::vector<int> distances =
      CompleteWith(30, {{29, 15}, {28, 15}}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
  Writer w(literals, distances);
  for (int i = 0; w.Size() < 33000; ++i) w.Literal(i % 3 ? 'x' : 'y');
  uint32_t pick = 0xFFFFFFFF;
  for (int i = 0; i < 3000; ++i) {
    if (i % 3) w.Literal('x');
    if (i % 5) w.Literal('y');
    w.Copy(i % 7 ? 284 : 283, i % 2 ? 29 : 28, pick);
    pick = pick * 69069u + 1;
  }
  Bytes plain;
  Bytes stream = w.Finish(&plain);
  ExpectAsZlib(stream, kStatusOk);
  EXPECT_TRUE(Zlib(stream).output == plain);
}

TEST_F(Codes, DeepestLiteralLengthCodes) {
  // The end of block, literals and lengths spread over the depths.
  std::vector<int> order = {'e', 257, 't', 256, 0, 285, 255, 'z', 270, 128, 280, 1, 260, 2, 284, 3};
  Bytes plain;
  Bytes stream = EverySymbol(Deepest(286, order), {2, 2, 1}, &plain);
  ExpectAsZlib(stream, kStatusOk);
  EXPECT_TRUE(Zlib(stream).output == plain);
}

TEST_F(Codes, DeepestDistanceCodes) {
  std::vector<int> order = {0, 29, 1, 28, 2, 27, 3, 26, 4, 25, 5, 24, 6, 23, 7, 22};
  Bytes plain;
  Bytes stream = EverySymbol(FiveBitLiterals(), Deepest(30, order), &plain);
  ExpectAsZlib(stream, kStatusOk);
  EXPECT_TRUE(Zlib(stream).output == plain);
}

// An incomplete literal/length code is refused, but only once its table is
// built: the build of the roomiest shapes must stay within its table.
TEST_F(Codes, RoomiestLiteralLengthCodesAreRefusedWithoutOverrun) {
  for (unsigned rootBits = 7; rootBits <= 12; ++rootBits) {
    SCOPED_TRACE(rootBits);
    for (size_t symbols : {257u, 286u, 288u}) {
      Bytes plain;
      std::vector<int> lengths = MostSubtables(rootBits, symbols);
      ExpectAsZlib(EverySymbol(lengths, {1}, &plain), kStatusInvalidCode);
    }
  }
}

// An incomplete distance code decodes (zlib refuses it), so the roomiest
// shapes are decoded through, every distance symbol used.
TEST_F(Codes, RoomiestDistanceCodesDecode) {
  for (unsigned rootBits = 5; rootBits <= 10; ++rootBits) {
    SCOPED_TRACE(rootBits);
    for (size_t symbols : {30u, 32u}) {
      Bytes plain;
      Bytes stream = EverySymbol(FiveBitLiterals(), MostSubtables(rootBits, symbols), &plain);
      ExpectAsZlib(stream, kStatusOk, &plain);
    }
  }
}

// Random complete codes: leaves of a code tree split until there are
// `coded` of them, on random symbols (the end of block among them).
std::vector<int> RandomCode(std::mt19937 &rng, size_t symbols, size_t coded, int mustHave) {
  std::vector<int> leaves = {0};
  while (leaves.size() < coded) {
    size_t i = rng() % leaves.size();
    if (leaves[i] >= 15) continue;
    int l = ++leaves[i];
    leaves.push_back(l);
  }
  std::vector<size_t> order(symbols);
  for (size_t i = 0; i < symbols; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  if (mustHave >= 0) std::iter_swap(order.begin(), std::find(order.begin(), order.end(), mustHave));
  std::vector<int> lengths(symbols, 0);
  for (size_t i = 0; i < coded; ++i) lengths[order[i]] = leaves[i];
  return lengths;
}

TEST_F(Codes, RandomCodesDecodeEverySymbolAsZlibDoes) {
  std::mt19937 rng(3);
  for (int round = 0; round < 120; ++round) {
    SCOPED_TRACE(round);
    size_t literalCount = 257 + rng() % 30, distanceCount = 1 + rng() % 30;
    std::vector<int> literals = RandomCode(rng, literalCount, 2 + rng() % (literalCount - 1), 256);
    std::vector<int> distances =
        distanceCount == 1 ? std::vector<int>{1}
                           : RandomCode(rng, distanceCount, 2 + rng() % (distanceCount - 1), -1);
    // Literals and copies in a random order, each symbol as likely as any.
    Writer w(literals, distances);
    std::vector<int> lits = Coded(literals, 0, 256), lengths = Coded(literals, 257, 286);
    std::vector<int> dists = Coded(distances, 0, 30);
    for (int i = 0; i < 600; ++i) {
      uint32_t r = rng();
      bool copy = !lengths.empty() && !dists.empty() && r % (lits.size() + lengths.size()) >= lits.size();
      if (copy && w.Copy(lengths[r % lengths.size()], dists[(r >> 9) % dists.size()], rng())) continue;
      if (!lits.empty()) w.Literal(lits[(r >> 3) % lits.size()]);
    }
    Bytes plain;
    Bytes stream = w.Finish(&plain);
    ExpectAsZlib(stream, kStatusOk);
    ASSERT_TRUE(Zlib(stream).output == plain);
  }
}

// The same codes one pattern short (a length made longer) or one too many
// (a length made shorter) are refused by both.
TEST_F(Codes, RandomCodesOneOffAreRefused) {
  std::mt19937 rng(4);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    std::vector<int> literals = RandomCode(rng, 286, 3 + rng() % 280, 256);
    size_t i = rng() % literals.size();
    while (!literals[i] || literals[i] == 15 || literals[i] == 1) i = (i + 1) % literals.size();
    bool shorter = round % 2;
    literals[i] += shorter ? -1 : 1;
    Bytes plain;
    ExpectAsZlib(EverySymbol(literals, {1}, &plain),
                 shorter ? kStatusOversubscribed : kStatusInvalidCode);
  }
}

}  // namespace
