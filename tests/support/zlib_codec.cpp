#include "support/zlib_codec.h"

#include <stdlib.h>

namespace testing_support {

Bytes RawDeflate(const Bytes &data, int level, int strategy) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) abort();
  Bytes out(deflateBound(&z, uLong(data.size())) + 16);
  z.next_in = const_cast<Bytef *>(data.data());
  z.avail_in = uInt(data.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

bool RawInflate(const unsigned char *stream, size_t size, Bytes *output) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) abort();
  z.next_in = const_cast<Bytef *>(stream);
  z.avail_in = uInt(size);
  unsigned char buffer[65536];
  int result;
  do {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    result = inflate(&z, Z_NO_FLUSH);
    output->insert(output->end(), buffer, buffer + (sizeof buffer - z.avail_out));
  } while (result == Z_OK);
  inflateEnd(&z);
  return result == Z_STREAM_END;
}

}  // namespace testing_support
