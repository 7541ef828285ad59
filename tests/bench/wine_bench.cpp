// The decoder as the stub runs it, beside zlib, on Windows (or Wine): the
// decoder's objects are the very ones linked into the stub (same compiler,
// same flags), zlib is the i686 build of libz-mingw-w64-dev. Both read one
// raw deflate stream from a file in 32 KiB chunks, decode it, compute the
// CRC-32 and write the output to NUL.
//
//   vantrel-wine-bench.exe STREAM CRC32-HEX OUTPUT-BYTES
//
// Prints the best wall-clock time of seven alternating runs per side.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>
#include <zlib.h>

#include "core/crc32.h"
#include "inflate/inflate.h"
#include "core/runtime.h"

namespace {

const int kRuns = 7;

double Seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart) / double(frequency.QuadPart);
}

HANDLE OpenInput(const char *path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "cannot open %s\n", path);
    exit(1);
  }
  return h;
}

HANDLE OpenOutput() {
  return CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

double TimeStub(const char *path, DWORD *crc) {
  double start = Seconds();
  state.packageFile = OpenInput(path);
  state.outFile = OpenOutput();
  state.bytesLeft = LONG(GetFileSize(state.packageFile, nullptr));
  state.memberCrc = 0xFFFFFFFF;
  state.sizeDeclared = 0;
  int status = InflateMember();
  CloseHandle(state.packageFile);
  CloseHandle(state.outFile);
  double seconds = Seconds() - start;
  *crc = status == kStatusOk ? state.memberCrc ^ 0xFFFFFFFFu : 0;
  return seconds;
}

double TimeZlib(const char *path, DWORD *crc) {
  static unsigned char chunk[32768], window[32768];
  double start = Seconds();
  HANDLE in = OpenInput(path);
  HANDLE out = OpenOutput();
  z_stream z{};
  inflateInit2(&z, -15);
  uLong sum = crc32(0, nullptr, 0);
  int rc = Z_OK;
  while (rc == Z_OK) {
    DWORD got = 0;
    if (!ReadFile(in, chunk, sizeof chunk, &got, nullptr) || got == 0) break;
    z.next_in = chunk;
    z.avail_in = got;
    do {
      z.next_out = window;
      z.avail_out = sizeof window;
      rc = inflate(&z, Z_NO_FLUSH);
      DWORD have = DWORD(sizeof window - z.avail_out), written = 0;
      if (have) WriteFile(out, window, have, &written, nullptr);
      sum = crc32(sum, window, have);
    } while (rc == Z_OK && z.avail_out == 0);
  }
  inflateEnd(&z);
  CloseHandle(in);
  CloseHandle(out);
  double seconds = Seconds() - start;
  *crc = rc == Z_STREAM_END ? DWORD(sum) : 0;
  return seconds;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: vantrel-wine-bench STREAM CRC32-HEX OUTPUT-BYTES\n");
    return 2;
  }
  const char *path = argv[1];
  DWORD expected = DWORD(strtoul(argv[2], nullptr, 16));
  double megabytes = strtod(argv[3], nullptr) / 1e6;

  state.crcTable = static_cast<DWORD *>(AllocateBlock(kCrcTableBytes));
  BuildCrcTable();

  double stub = 1e9, zlib = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    DWORD a = 0, b = 0;
    double s = TimeStub(path, &a), z = TimeZlib(path, &b);
    if (a != expected || b != expected) {
      fprintf(stderr, "CRC-32 mismatch: stub %08lX zlib %08lX expected %08lX\n", (unsigned long)a,
              (unsigned long)b, (unsigned long)expected);
      return 1;
    }
    if (s < stub) stub = s;
    if (z < zlib) zlib = z;
  }
  // The CRC-32 alone over a buffer of the corpus's output size, beside zlib's.
  DWORD size = DWORD(megabytes * 1e6);
  BYTE *data = static_cast<BYTE *>(AllocateBlock(size));
  for (DWORD i = 0; i < size; ++i) data[i] = BYTE(i * 7 + (i >> 9));
  double ours = 1e9, theirs = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    DWORD reg = 0xFFFFFFFF;
    double start = Seconds();
    CrcUpdateBuffer(data, LONG(size), reg);
    double s = Seconds() - start;
    start = Seconds();
    uLong sum = crc32(crc32(0, nullptr, 0), data, size);
    double z = Seconds() - start;
    if ((reg ^ 0xFFFFFFFFu) != sum) {
      fprintf(stderr, "CRC-32 mismatch in the CRC timing\n");
      return 1;
    }
    if (s < ours) ours = s;
    if (z < theirs) theirs = z;
  }
  ReleaseBlock(data);

  printf("stub decoder (i686, stub flags): %8.1f MB/s of output\n", megabytes / stub);
  printf("zlib %-7s (i686, -O2)       : %8.1f MB/s of output\n", zlibVersion(), megabytes / zlib);
  printf("ratio stub/zlib under Wine     : %8.2f\n", zlib / stub);
  printf("CRC-32 alone: stub %.0f MB/s, zlib %.0f MB/s\n", megabytes / ours, megabytes / theirs);
  return 0;
}
