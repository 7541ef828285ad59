// Decoder throughput against zlib's and libdeflate's, measured in one run on
// the same data: a mixed corpus of 50 MiB taken deterministically from files
// on this machine (sorted paths, a fixed share per file), deflated once by
// zlib. Every side reads the compressed file, decodes it, computes the CRC-32
// and writes the output file: the stub's decoder through the platform layer,
// exactly as the stub runs it; zlib in 32 KiB chunks; libdeflate as it is
// made to be used, the whole stream in memory and the whole output in one
// buffer (so its memory grows with the member).
//
//   vantrel-bench [--save-stream FILE]
//   vantrel-bench --decode-once STREAM
//
// With --save-stream the deflated corpus is also kept in FILE, and a line
// "stream: FILE CRC OUTPUT-BYTES" tells the Wine benchmark what to expect.
// --decode-once decodes a saved stream once with files kept in memory and
// prints its CRC-32: a run to count instructions with
// `valgrind --tool=callgrind --toggle-collect='InflateMember()'`, which
// gives the same figure on a busy machine as on an idle one.
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
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

// libdeflate with the same input and output: the whole stream read into
// memory, decoded into one buffer of the output's size, its CRC-32, one
// write. `warm` keeps both buffers from run to run, as a program that reuses
// them would: on a machine where touching fresh memory is slow (a virtual
// machine's page faults), that cost is then out of libdeflate's figure, and
// what remains is its decoding, its CRC-32 and the same file traffic.
// `portableCrc` takes Vantrel's CRC-32 instead of libdeflate's, which uses
// carry-less multiplication where the processor has it: what remains to
// compare is then the two decoders alone.
double TimeLibdeflate(const std::string &input, const std::string &output, size_t outputSize,
                      bool warm, bool portableCrc, uint32_t *crc) {
  static Bytes keptStream, keptPlain;
  Bytes freshStream, freshPlain;
  Bytes &stream = warm ? keptStream : freshStream;
  Bytes &plain = warm ? keptPlain : freshPlain;
  double start = Now();
  int in = open(input.c_str(), O_RDONLY);
  struct stat st;
  fstat(in, &st);
  stream.resize(size_t(st.st_size));
  size_t got = 0;
  while (got < stream.size()) {
    ssize_t n = read(in, stream.data() + got, stream.size() - got);
    if (n <= 0) break;
    got += size_t(n);
  }
  close(in);
  plain.resize(outputSize);
  libdeflate_decompressor *d = libdeflate_alloc_decompressor();
  size_t produced = 0;
  libdeflate_result rc =
      libdeflate_deflate_decompress(d, stream.data(), got, plain.data(), outputSize, &produced);
  libdeflate_free_decompressor(d);
  if (rc != LIBDEFLATE_SUCCESS) {
    *crc = 0;
  } else if (portableCrc) {
    DWORD reg = 0xFFFFFFFF;
    CrcUpdateBuffer(plain.data(), LONG(produced), reg);
    *crc = reg ^ 0xFFFFFFFFu;
  } else {
    *crc = libdeflate_crc32(0, plain.data(), produced);
  }
  int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  for (size_t done = 0; done < produced;) {
    ssize_t n = write(out, plain.data() + done, produced - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  close(out);
  if (!warm) {
    // Given back to the system, as at the end of a program's run.
    Bytes().swap(freshStream);
    Bytes().swap(freshPlain);
  }
  return Now() - start;
}

// One decode of a saved stream, files in memory, for instruction counts.
int DecodeOnce(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  if (!file) {
    fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  host::UseMemoryFiles();
  host::MapDrive('C', "/c");
  host::MakeFolders("/c");
  host::PutFile("/c/stream.bin", bytes.str());
  state.packageFile = CreateFileA("C:\\stream.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  state.outFile = CreateFileA("C:\\output.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  state.bytesLeft = LONG(bytes.str().size());
  state.memberCrc = 0xFFFFFFFF;
  int status = InflateMember();
  printf("status %d, CRC-32 %08X\n", status, state.memberCrc ^ 0xFFFFFFFFu);
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  std::string saveStream, decodeOnce;
  if (argc == 3 && std::string(argv[1]) == "--save-stream") {
    saveStream = argv[2];
  } else if (argc == 3 && std::string(argv[1]) == "--decode-once") {
    decodeOnce = argv[2];
  } else if (argc != 1) {
    fprintf(stderr, "usage: vantrel-bench [--save-stream FILE | --decode-once STREAM]\n");
    return 2;
  }
  host::Reset();
  state.crcTable = static_cast<DWORD *>(AllocateBlock(kCrcTableBytes));
  BuildCrcTable();
  if (!decodeOnce.empty()) return DecodeOnce(decodeOnce);

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
  double stub = 1e9, zlib = 1e9, deflater = 1e9, warmDeflater = 1e9, sameCrc = 1e9;
  for (int run = 0; run < 5; ++run) {
    uint32_t a = 0, b = 0, c = 0, w = 0, p = 0;
    stub = std::min(stub, TimeStub(input, long(stream.size()), output, &a));
    zlib = std::min(zlib, TimeZlib(input, output, &b));
    deflater = std::min(deflater, TimeLibdeflate(input, output, corpus.size(), false, false, &c));
    warmDeflater =
        std::min(warmDeflater, TimeLibdeflate(input, output, corpus.size(), true, false, &w));
    sameCrc = std::min(sameCrc, TimeLibdeflate(input, output, corpus.size(), true, true, &p));
    if (a != expected || b != expected || c != expected || w != expected || p != expected) {
      fprintf(stderr,
              "CRC-32 mismatch: stub %08X zlib %08X libdeflate %08X/%08X/%08X expected %08X\n", a,
              b, c, w, p, expected);
      return 1;
    }
  }
  // The CRC-32 alone over the corpus, beside zlib's.
  double ours = 1e9, theirs = 1e9, vector = 1e9;
  for (int run = 0; run < 5; ++run) {
    DWORD reg = 0xFFFFFFFF;
    double start = Now();
    CrcUpdateBuffer(corpus.data(), LONG(corpus.size()), reg);
    ours = std::min(ours, Now() - start);
    start = Now();
    uLong sum = crc32(crc32(0, nullptr, 0), corpus.data(), uInt(corpus.size()));
    theirs = std::min(theirs, Now() - start);
    start = Now();
    uint32_t vectorSum = libdeflate_crc32(0, corpus.data(), corpus.size());
    vector = std::min(vector, Now() - start);
    if ((reg ^ 0xFFFFFFFFu) != expected || sum != expected || vectorSum != expected) {
      fprintf(stderr, "CRC-32 mismatch in the CRC timing\n");
      return 1;
    }
  }
  double mb = corpus.size() / 1e6;
  printf("throughput in MB of output per second of CPU time, best of 5 runs\n");
  printf("vantrel InflateMember: %8.1f MB/s of output\n", mb / stub);
  printf("zlib %-16s: %8.1f MB/s of output\n", zlibVersion(), mb / zlib);
  printf("libdeflate %-10s: %8.1f MB/s of output, fresh buffers (one run of a program)\n",
         LIBDEFLATE_VERSION_STRING, mb / deflater);
  printf("libdeflate %-10s: %8.1f MB/s of output, buffers reused (decoding, CRC, files)\n",
         LIBDEFLATE_VERSION_STRING, mb / warmDeflater);
  printf("libdeflate %-10s: %8.1f MB/s of output, buffers reused, Vantrel's CRC-32\n",
         LIBDEFLATE_VERSION_STRING, mb / sameCrc);
  printf("ratio vantrel/zlib:                     %5.2f\n", zlib / stub);
  printf("ratio vantrel/libdeflate, fresh buffers: %5.2f\n", deflater / stub);
  printf("ratio vantrel/libdeflate, reused:        %5.2f\n", warmDeflater / stub);
  printf("ratio vantrel/libdeflate, reused, same CRC: %5.2f (the decoders alone)\n",
         sameCrc / stub);
  printf("CRC-32 alone: vantrel %.0f MB/s, zlib %.0f MB/s (libdeflate, with vector"
         " instructions: %.0f MB/s)\n",
         mb / ours, mb / theirs, mb / vector);
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
