// Shared helpers of the decoder tests: a bit writer for hand-made deflate
// streams, zlib as the control, and a run of the decoder over a package
// file and an output file through the platform layer, as the stub runs it.
#ifndef VANTREL_TEST_INFLATE_HARNESS_H
#define VANTREL_TEST_INFLATE_HARNESS_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/package_builder.h"
#include "support/zlib_codec.h"
#include "support/host_machine.h"

namespace inflate_test {

using testing_support::Bytes;

// Packs bits least significant first, as deflate does.
class BitWriter {
 public:
  void Bits(uint32_t value, int count);
  // A prefix code of `length` bits, sent most significant bit first.
  void Code(uint32_t code, int length);
  void AlignToByte();
  void Byte(uint8_t b);
  Bytes Finish();

 private:
  Bytes bytes_;
  uint32_t pending_ = 0;
  int pendingBits_ = 0;
};

// The fixed codes of the format, written from its definition.
void FixedLiteral(BitWriter &out, int symbol);
void FixedLength(BitWriter &out, int length);
void FixedDistance(BitWriter &out, int distance);

// Length and distance symbols and their extra bits, from the format's tables.
struct SymbolAndExtra {
  int symbol;
  int extraBits;
  int extraValue;
};
SymbolAndExtra LengthSymbol(int length);
SymbolAndExtra DistanceSymbol(int distance);

// The canonical codes for a list of code lengths (0 = no code).
std::vector<uint32_t> CanonicalCodes(const std::vector<int> &lengths);

// Writes a dynamic block header (last bit, type 2, the counts, a code-length
// code of 4-bit codes for lengths 0..15) and the lengths without repeats;
// returns the codes of both alphabets for the data that follows.
struct DynamicCodes {
  std::vector<uint32_t> literal, distance;
  std::vector<int> literalLengths, distanceLengths;
  void Literal(BitWriter &out, int symbol) const;
  void Distance(BitWriter &out, int symbol) const;
};
DynamicCodes WriteDynamicHeader(BitWriter &out, bool last, const std::vector<int> &literalLengths,
                                const std::vector<int> &distanceLengths);

using testing_support::RawDeflate;
using testing_support::RawInflate;

Bytes RandomBytes(size_t size, uint32_t seed);
Bytes TextBytes(size_t size, uint32_t seed);
Bytes RepetitiveBytes(size_t size, uint32_t seed);

// A status for ExpectAsZlib: any that ends the member early.
const int kAnyFailure = -1;

// Declared count meaning "the member's own size".
const long long kMemberSize = -(1LL << 40);

struct Decoded {
  int status;  // InflateMember's verdict
  Bytes output;
  uint32_t crc;  // the finished CRC-32 (register inverted)
  bool ioError;
  long long readUpTo;  // package file position after decoding
};

// What zlib makes of the same raw stream: whether it reaches the stream's
// end, and everything it decoded up to where it stopped.
struct ZlibVerdict {
  bool accepts;
  Bytes output;
};
ZlibVerdict Zlib(const Bytes &stream);

// A stored member larger than the decoder's window, of random bytes: a
// member decoded after it finds the window full of its bytes.
Bytes WindowFiller();

class InflateTest : public testing_support::HostMachine {
 protected:
  void SetUp() override;
  // Decodes `stream` as a member that follows one that filled the window
  // (so that a reach before the member's start finds stale bytes), and
  // checks the decoder against zlib: `status` is InflateMember's verdict;
  // an accepted stream is zlib's output with its CRC-32, unless `expected`
  // names another; a refused one leaves in the file only a prefix of what
  // zlib decodes, and zlib refuses it too (`zlibAccepts` says otherwise
  // where the decoder is deliberately stricter or more lenient). Decoding it
  // again gives the same: nothing carries over from member to member.
  void ExpectAsZlib(const Bytes &stream, int status, const Bytes *expected = nullptr,
                    bool zlibAccepts = false);
  // Decodes `member`, which lies in the package file after `before` bytes
  // and before `after` bytes, with `declared` as its compressed count
  // (default: its size).
  Decoded Decode(const Bytes &member, long long declared = kMemberSize, const Bytes &before = {},
                 const Bytes &after = {});
  // The same over a package file and member already prepared by the test:
  // the package file positioned, bytesLeft, flags and keys set.
  Decoded DecodePrepared();
};

}  // namespace inflate_test

#endif
