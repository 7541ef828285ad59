// The decoder over arbitrary bytes as one member's compressed data, read from
// a package file and written to an output file through the platform layer
// (files in memory). Whatever the input, decoding must end without a memory
// fault. Whenever zlib accepts the same raw stream, the decoder must accept
// it too, with zlib's output byte for byte and its CRC-32.
//
// One input in four is decoded again on a disk that fills up, and one in
// four again with a declared size below what it decodes to: the decoder must
// then fail, having written exactly what the disk took (and folded only
// that into the CRC), or nothing past the declared size.
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "core/crc32.h"
#include "inflate/inflate.h"
#include "platform/driver.h"
#include "core/runtime.h"
#include "support/zlib_codec.h"

namespace {

void Fail(const char *why) {
  fprintf(stderr, "fuzz_inflate: %s\n", why);
  abort();
}

uLong Crc(const std::string &bytes) {
  return crc32(0, reinterpret_cast<const Bytef *>(bytes.data()), uInt(bytes.size()));
}

struct Result {
  int status;
  std::string output;
  DWORD crc;
  bool ioError;
};

// One decode of the member, on a disk with room for `room` bytes (-1: no
// limit) and with `declared` as its declared size (-1: none).
Result Decode(size_t size, long long room, long long declared) {
  state.packageFile = CreateFileA("C:\\member.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  state.outFile = CreateFileA("C:\\output.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (state.packageFile == INVALID_HANDLE_VALUE || state.outFile == INVALID_HANDLE_VALUE) {
    Fail("cannot open the files");
  }
  state.bytesLeft = LONG(size);
  state.memberCrc = 0xFFFFFFFF;
  state.memberOutput = 0;
  state.sizeDeclared = declared >= 0;
  state.declaredSize = DWORD(declared >= 0 ? declared : 0);
  state.ioError = 0;
  state.localHeader.flags = 0;
  host::LimitWrites(room);
  Result r;
  r.status = InflateMember();
  host::LimitWrites(-1);
  CloseHandle(state.packageFile);
  CloseHandle(state.outFile);
  r.crc = state.memberCrc ^ 0xFFFFFFFF;
  r.ioError = state.ioError != 0;
  if (!host::GetFile("/c/output.bin", r.output)) Fail("no output file");
  return r;
}

unsigned long long Fingerprint(const uint8_t *data, size_t size) {
  unsigned long long h = 1469598103934665603ULL;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ULL;
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  host::Reset();
  host::UseMemoryFiles();
  host::MapDrive('C', "/c");
  host::MakeFolders("/c");
  state.crcTable = static_cast<DWORD *>(AllocateBlock(kCrcTableBytes));
  BuildCrcTable();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (!host::PutFile("/c/member.bin", std::string(reinterpret_cast<const char *>(data), size))) {
    Fail("cannot write the member");
  }
  Result ours = Decode(size, -1, -1);
  if (ours.ioError) Fail("a write fell short on an unlimited disk");
  if (ours.status == kStatusOk && ours.crc != Crc(ours.output)) Fail("CRC-32 of the output");
  testing_support::Bytes theirs;
  if (testing_support::RawInflate(data, size, &theirs)) {
    if (ours.status != kStatusOk) Fail("zlib accepts a stream the decoder refuses");
    if (ours.output != std::string(theirs.begin(), theirs.end()))
      Fail("output differs from zlib's");
  }

  unsigned long long h = Fingerprint(data, size);
  if (ours.status == kStatusOk && !ours.output.empty() && h % 4 == 1) {
    long long room = (long long)((h >> 8) % ours.output.size());
    Result full = Decode(size, room, -1);
    if (full.status == kStatusOk || !full.ioError) Fail("a full disk went unnoticed");
    if (full.output != ours.output.substr(0, size_t(room))) Fail("not what the disk took");
    if (full.crc != Crc(full.output)) Fail("the CRC covers bytes the disk did not take");
  }
  if (ours.status == kStatusOk && !ours.output.empty() && h % 4 == 2) {
    long long declared = (long long)((h >> 8) % ours.output.size());
    Result cut = Decode(size, -1, declared);
    if (cut.status == kStatusOk) Fail("output beyond the declared size was accepted");
    if ((long long)cut.output.size() > declared) Fail("written past the declared size");
  }
  return 0;
}
