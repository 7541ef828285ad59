// Decoder throughput against zlib's inflate, measured in one run on the same
// data: a mixed corpus of 50 MiB taken deterministically from files on this
// machine (sorted paths, a fixed share per file), deflated once by zlib.
// Both sides read the compressed file in 32 KiB chunks, decode, compute the
// CRC-32 and write the output; the stub's decoder does so through the
// platform layer, exactly as the stub runs it.
//
//   vantrel-bench [--save-stream FILE]
//
// With --save-stream the deflated corpus is also kept in FILE, and a line
// "stream: FILE CRC OUTPUT-BYTES" tells the Wine benchmark what to expect.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/crc32.h"
#include "inflate/inflate.h"
#include "platform/driver.h"
#include "core/runtime.h"

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

namespace {

const size_t kCorpusBytes = 50u << 20;
const size_t kPerFileBytes = 256u << 10;
const char *const kRoots[] = {"/usr/share", "/usr/lib", "/usr/bin"};

// Appends files under `folder` in sorted order (depth first) until `limit`.
void Gather(const fs::path &folder, size_t limit, Bytes &out) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end());
  for (const fs::path &p : entries) {
    if (out.size() >= limit) return;
    std::error_code e;
    fs::file_status s = fs::symlink_status(p, e);
    if (e) continue;
    if (fs::is_directory(s)) {
      Gather(p, limit, out);
    } else if (fs::is_regular_file(s)) {
      FILE *f = fopen(p.c_str(), "rb");
      if (!f) continue;
      size_t want = std::min(kPerFileBytes, limit - out.size());
      size_t at = out.size();
      out.resize(at + want);
      out.resize(at + fread(out.data() + at, 1, want, f));
      fclose(f);
    }
  }
}

Bytes BuildCorpus() {
  Bytes corpus;
  size_t share = kCorpusBytes / (sizeof kRoots / sizeof *kRoots);
  for (size_t i = 0; i < sizeof kRoots / sizeof *kRoots; ++i) {
    size_t limit = i + 1 == sizeof kRoots / sizeof *kRoots ? kCorpusBytes : corpus.size() + share;
    Gather(kRoots[i], limit, corpus);
  }
  return corpus;
}

Bytes Deflate(const Bytes &data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, uLong(data.size())));
  z.next_in = const_cast<Bytef *>(data.data());
  z.avail_in = uInt(data.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// CPU time of this thread: the machine may be shared, and time spent waiting
// for a processor is neither side's.
double Now() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

// The stub's decoder over the compressed file; returns seconds and the CRC.
double TimeStub(const std::string &input, long size, const std::string &output, uint32_t *crc) {
  double start = Now();
  state.packageFile = CreateFileA(host::WindowsPath(input).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  state.outFile = CreateFileA(host::WindowsPath(output).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (state.packageFile == INVALID_HANDLE_VALUE || state.outFile == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "cannot open the bench files\n");
    exit(1);
  }
  state.bytesLeft = LONG(size);
  state.memberCrc = 0xFFFFFFFF;
  InflateMember();
  CloseHandle(state.packageFile);
  CloseHandle(state.outFile);
  *crc = state.memberCrc ^ 0xFFFFFFFFu;
  return Now() - start;
}

// zlib's inflate with the same input and output pattern.
double TimeZlib(const std::string &input, const std::string &output, uint32_t *crc) {
  double start = Now();
  int in = open(input.c_str(), O_RDONLY);
  int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  static unsigned char chunk[32768], window[32768];
  z_stream z{};
  inflateInit2(&z, -15);
  uLong sum = crc32(0, nullptr, 0);
  int rc = Z_OK;
  while (rc == Z_OK) {
    ssize_t got = read(in, chunk, sizeof chunk);
    if (got <= 0) break;
    z.next_in = chunk;
    z.avail_in = uInt(got);
    do {
      z.next_out = window;
      z.avail_out = sizeof window;
      rc = inflate(&z, Z_NO_FLUSH);
      size_t have = sizeof window - z.avail_out;
      if (have && write(out, window, have) != ssize_t(have)) rc = Z_ERRNO;
      sum = crc32(sum, window, uInt(have));
    } while (rc == Z_OK && z.avail_out == 0);
  }
  inflateEnd(&z);
  close(in);
  close(out);
  *crc = uint32_t(sum);
  return Now() - start;
}

}  // namespace

int main(int argc, char **argv) {
  std::string saveStream;
  if (argc == 3 && std::string(argv[1]) == "--save-stream") {
    saveStream = argv[2];
  } else if (argc != 1) {
    fprintf(stderr, "usage: vantrel-bench [--save-stream FILE]\n");
    return 2;
  }
  host::Reset();
  state.crcTable = static_cast<DWORD *>(AllocateBlock(kCrcTableBytes));
  BuildCrcTable();

  Bytes corpus = BuildCorpus();
  Bytes stream = Deflate(corpus);
  uint32_t expected = uint32_t(crc32(crc32(0, nullptr, 0), corpus.data(), uInt(corpus.size())));
  // The host layer opens regular files only, as the stub's own files are, so
  // both sides write a real file; on tmpfs where there is one, so the disk
  // does not enter the figure.
  char folder[] = "/dev/shm/vantrel-bench-XXXXXX";
  char fallback[] = "/tmp/vantrel-bench-XXXXXX";
  const char *scratch = mkdtemp(folder) ? folder : mkdtemp(fallback);
  if (!scratch) return 1;
  std::string input = std::string(scratch) + "/corpus.deflate";
  FILE *f = fopen(input.c_str(), "wb");
  fwrite(stream.data(), 1, stream.size(), f);
  fclose(f);
  std::string output = std::string(scratch) + "/corpus.out";
  printf("corpus: %.1f MiB from %s, %s, %s; deflated (zlib level 6) to %.1f MiB\n",
         corpus.size() / 1048576.0, kRoots[0], kRoots[1], kRoots[2], stream.size() / 1048576.0);

  // Best of several alternating runs, so both sides see the same machine.
  double stub = 1e9, zlib = 1e9;
  for (int run = 0; run < 5; ++run) {
    uint32_t a = 0, b = 0;
    stub = std::min(stub, TimeStub(input, long(stream.size()), output, &a));
    zlib = std::min(zlib, TimeZlib(input, output, &b));
    if (a != expected || b != expected) {
      fprintf(stderr, "CRC-32 mismatch: stub %08X zlib %08X expected %08X\n", a, b, expected);
      return 1;
    }
  }
  // The CRC-32 alone over the corpus, beside zlib's.
  double ours = 1e9, theirs = 1e9;
  for (int run = 0; run < 5; ++run) {
    DWORD reg = 0xFFFFFFFF;
    double start = Now();
    CrcUpdateBuffer(corpus.data(), LONG(corpus.size()), reg);
    ours = std::min(ours, Now() - start);
    start = Now();
    uLong sum = crc32(crc32(0, nullptr, 0), corpus.data(), uInt(corpus.size()));
    theirs = std::min(theirs, Now() - start);
    if ((reg ^ 0xFFFFFFFFu) != expected || sum != expected) {
      fprintf(stderr, "CRC-32 mismatch in the CRC timing\n");
      return 1;
    }
  }
  double mb = corpus.size() / 1e6;
  printf("throughput in MB of output per second of CPU time, best of 5 runs\n");
  printf("vantrel InflateMember: %8.1f MB/s of output\n", mb / stub);
  printf("zlib %-16s: %8.1f MB/s of output\n", zlibVersion(), mb / zlib);
  printf("ratio vantrel/zlib:    %8.2f\n", zlib / stub);
  printf("CRC-32 alone: vantrel %.0f MB/s, zlib %.0f MB/s\n", mb / ours, mb / theirs);
  if (!saveStream.empty()) {
    std::error_code ec;
    fs::copy_file(input, saveStream, fs::copy_options::overwrite_existing, ec);
    if (ec) {
      fprintf(stderr, "cannot write %s\n", saveStream.c_str());
      return 1;
    }
    printf("stream: %s %08X %zu\n", saveStream.c_str(), expected, corpus.size());
  }
  fs::remove_all(scratch);
  return 0;
}
