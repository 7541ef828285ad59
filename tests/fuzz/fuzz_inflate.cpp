// The decoder over arbitrary bytes as one member's compressed data, read from
// a package file and written to an output file through the platform layer.
// Whatever the input, decoding must end without a memory fault; whenever zlib
// accepts the same raw stream, the output must be byte for byte zlib's and
// the CRC-32 must match it.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "archive/crc32.h"
#include "inflate/inflate.h"
#include "platform/driver.h"
#include "startup/runtime.h"

namespace {

std::string folder;

void WriteWhole(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f || (size && fwrite(data, 1, size, f) != size)) abort();
  fclose(f);
}

std::vector<uint8_t> ReadWhole(const std::string &path) {
  std::vector<uint8_t> bytes;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) abort();
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  fclose(f);
  return bytes;
}

bool ZlibInflate(const uint8_t *data, size_t size, std::vector<uint8_t> *out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) abort();
  z.next_in = const_cast<Bytef *>(data);
  z.avail_in = uInt(size);
  uint8_t buffer[65536];
  int rc;
  do {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out->insert(out->end(), buffer, buffer + (sizeof buffer - z.avail_out));
  } while (rc == Z_OK);
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

void RemoveFolder() {
  unlink((folder + "/member.bin").c_str());
  unlink((folder + "/output.bin").c_str());
  rmdir(folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char pattern[] = "/tmp/vantrel-fuzz-inflate-XXXXXX";
  if (!mkdtemp(pattern)) abort();
  folder = pattern;
  atexit(RemoveFolder);
  host::Reset();
  state.crcTable = static_cast<DWORD *>(AllocateBlock(kCrcTableBytes));
  BuildCrcTable();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input = folder + "/member.bin", output = folder + "/output.bin";
  WriteWhole(input, data, size);
  state.packageFile = CreateFileA(host::WindowsPath(input).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  state.outFile = CreateFileA(host::WindowsPath(output).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (state.packageFile == INVALID_HANDLE_VALUE || state.outFile == INVALID_HANDLE_VALUE) abort();
  state.bytesLeft = LONG(size);
  state.memberCrc = 0xFFFFFFFF;
  state.ioError = 0;
  state.localHeader.flags = 0;
  InflateMember();
  CloseHandle(state.packageFile);
  CloseHandle(state.outFile);
  if (state.ioError) abort();

  std::vector<uint8_t> ours = ReadWhole(output), theirs;
  if (ZlibInflate(data, size, &theirs)) {
    if (ours != theirs) {
      fprintf(stderr, "output differs from zlib: %zu bytes against %zu\n", ours.size(),
              theirs.size());
      abort();
    }
    uLong crc = crc32(0, theirs.data(), uInt(theirs.size()));
    if ((state.memberCrc ^ 0xFFFFFFFFu) != crc) {
      fprintf(stderr, "CRC-32 differs from zlib's\n");
      abort();
    }
  }
  return 0;
}
