// zlib as the tests' reference codec: raw deflate streams (no zlib wrapper),
// as zip method 8 stores them.
#ifndef VANTREL_TEST_ZLIB_CODEC_H
#define VANTREL_TEST_ZLIB_CODEC_H

#include <zlib.h>

#include <vector>

namespace testing_support {

using Bytes = std::vector<unsigned char>;

// `data` deflated at `level` (0 stores) with `strategy` (Z_FILTERED,
// Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED or Z_DEFAULT_STRATEGY).
Bytes RawDeflate(const Bytes &data, int level = 6, int strategy = Z_DEFAULT_STRATEGY);

// Inflates a whole raw stream; false when zlib does not reach its end (what
// it decoded up to there is still in `output`).
bool RawInflate(const unsigned char *stream, size_t size, Bytes *output);
inline bool RawInflate(const Bytes &stream, Bytes *output) {
  return RawInflate(stream.data(), stream.size(), output);
}

}  // namespace testing_support

#endif
