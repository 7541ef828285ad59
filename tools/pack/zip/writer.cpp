// Zips a folder's files for a package, byte for byte reproducibly: members
// in the order given, times from the files (as UTC, so that the build
// machine's time zone does not matter), nothing from the environment.
#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>

#include "bridge/stub_cipher.h"
#include "cli/errors.h"
#include "cli/pending_output.h"
#include "records.h"
#include "sha256.h"
#include "writer.h"

namespace vantrel_pack {
namespace {

constexpr size_t kChunk = 65536;
constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kVersionNeeded = 20;  // deflate and traditional encryption
constexpr uint32_t kLargestMember = 0x7FFFFFFF;
constexpr int kEncryptionHeaderSize = 12;

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct CentralEntry {
  std::string name;
  uint16_t flags, method, dosTime, dosDate;
  uint32_t crc, compressedSize, uncompressedSize, offset;
};

void Put(std::vector<uint8_t> &out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

File OpenInput(const std::string &path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) throw PackError("cannot open " + path + ": " + std::strerror(errno));
  return file;
}

struct Measured {
  uint32_t crc = 0;
  uint32_t size = 0;
  std::array<uint8_t, 32> digest{};
};

// A first pass over a member that is to be encrypted: the header in front
// of its data needs the CRC-32 before the data is written.
Measured MeasureFile(const std::string &path, Progress &progress) {
  File in = OpenInput(path);
  std::vector<uint8_t> buffer(kChunk);
  Measured m;
  Sha256 content;
  uLong crc = crc32(0, nullptr, 0);
  uint64_t total = 0;
  size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) {
    crc = crc32(crc, buffer.data(), uInt(got));
    content.Add(buffer.data(), got);
    total += got;
    progress.AddBytes(got);
  }
  if (std::ferror(in.get())) throw PackError("cannot read " + path);
  if (total > kLargestMember) throw PackError(path + " is larger than 2 GiB");
  m.crc = uint32_t(crc);
  m.size = uint32_t(total);
  m.digest = content.Finish();
  return m;
}

// Writes member data, encrypted when a cipher is given; counts what it wrote.
class MemberWriter {
 public:
  MemberWriter(std::FILE *out, const std::string &outPath, StubCipher *cipher)
      : out_(out), outPath_(outPath), cipher_(cipher) {}

  void Write(const uint8_t *data, size_t count) {
    if (cipher_) {
      std::vector<uint8_t> encrypted(data, data + count);
      cipher_->Encrypt(encrypted.data(), encrypted.size());
      WriteAll(out_, encrypted.data(), encrypted.size(), outPath_);
    } else {
      WriteAll(out_, data, count, outPath_);
    }
    written_ += count;
  }
  uint64_t written() const { return written_; }

 private:
  std::FILE *out_;
  const std::string &outPath_;
  StubCipher *cipher_;
  uint64_t written_ = 0;
};

// Stores (level 0) or deflates the file into the writer; returns the CRC-32
// and size of what it read.
Measured CopyData(const std::string &path, int level, MemberWriter &writer, Progress &progress) {
  File in = OpenInput(path);
  std::vector<uint8_t> buffer(kChunk), packed(kChunk);
  z_stream stream{};
  // Raw deflate (no zlib wrapper), as zip method 8 stores it.
  if (level > 0 && deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw PackError("cannot start the compressor");
  }
  std::unique_ptr<z_stream, int (*)(z_stream *)> guard(level > 0 ? &stream : nullptr, deflateEnd);
  Measured read;
  uLong crc = crc32(0, nullptr, 0);
  uint64_t total = 0;
  bool finished = false;
  while (!finished) {
    size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
    if (std::ferror(in.get())) throw PackError("cannot read " + path);
    finished = got < buffer.size();
    crc = crc32(crc, buffer.data(), uInt(got));
    total += got;
    progress.AddBytes(got);
    if (level == 0) {
      writer.Write(buffer.data(), got);
      continue;
    }
    stream.next_in = buffer.data();
    stream.avail_in = uInt(got);
    int flush = finished ? Z_FINISH : Z_NO_FLUSH;
    do {
      stream.next_out = packed.data();
      stream.avail_out = uInt(packed.size());
      deflate(&stream, flush);
      writer.Write(packed.data(), packed.size() - stream.avail_out);
    } while (stream.avail_out == 0);
  }
  if (total > kLargestMember) throw PackError(path + " is larger than 2 GiB");
  read.crc = uint32_t(crc);
  read.size = uint32_t(total);
  return read;
}

void PatchLocalHeader(std::FILE *out, long start, const CentralEntry &entry,
                      const std::string &outPath) {
  std::vector<uint8_t> bytes;
  Put(bytes, entry.crc, 4);
  Put(bytes, entry.compressedSize, 4);
  Put(bytes, entry.uncompressedSize, 4);
  if (std::fseek(out, start + 14, SEEK_SET) != 0) throw PackError("cannot seek in " + outPath);
  WriteAll(out, bytes.data(), bytes.size(), outPath);
  if (std::fseek(out, 0, SEEK_END) != 0) throw PackError("cannot seek in " + outPath);
}

// The eleven bytes that open an encrypted member's data. Drawn at random
// they hide even whether two packages hold the same file; a reproducible
// package takes them from everything that decides the member instead.
void EncryptionHeader(const SourceFile &file, const Measured &m, const ZipSettings &settings,
                      uint8_t header[kEncryptionHeaderSize]) {
  if (settings.sourceDateEpoch) {
    Sha256 inputs;
    inputs.Add(std::string("vantrel encryption header", 26));
    inputs.Add(*settings.password + '\0' + file.name + '\0');
    inputs.Add(m.digest.data(), m.digest.size());
    std::array<uint8_t, 32> derived = inputs.Finish();
    std::memcpy(header, derived.data(), kEncryptionHeaderSize - 1);
  } else {
    std::random_device random;
    for (int i = 0; i < kEncryptionHeaderSize - 1; ++i) header[i] = uint8_t(random());
  }
  // The check byte: without a data descriptor the reader compares it with
  // the high byte of the CRC.
  header[kEncryptionHeaderSize - 1] = uint8_t(m.crc >> 24);
}

struct FileFacts {
  uint64_t size;
  int64_t modified;
};

FileFacts Stat(const std::string &path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    throw PackError("cannot read " + path + ": " + std::strerror(errno));
  }
  return {uint64_t(info.st_size), int64_t(info.st_mtime)};
}

CentralEntry WriteMember(std::FILE *out, const std::string &outPath, const SourceFile &file,
                         const ZipSettings &settings, Progress &progress) {
  FileFacts facts = Stat(file.path);
  CentralEntry entry{};
  entry.name = file.name;
  // Nothing to compress: a deflate stream would only add bytes.
  entry.method = settings.level == 0 || facts.size == 0 ? 0 : 8;
  entry.flags = settings.password ? kFlagEncrypted : 0;
  int64_t when = facts.modified;
  if (settings.sourceDateEpoch && *settings.sourceDateEpoch < when) when = *settings.sourceDateEpoch;
  DosDateTime(when, entry.dosTime, entry.dosDate);
  Measured measured;
  if (settings.password) measured = MeasureFile(file.path, progress);
  long start = std::ftell(out);
  if (start < 0 || uint64_t(start) > kLargestMember) throw PackError("the archive exceeds 2 GiB");
  entry.offset = uint32_t(start);

  std::vector<uint8_t> header;
  Put(header, kLocalHeaderSignature, 4);
  Put(header, kVersionNeeded, 2);
  Put(header, entry.flags, 2);
  Put(header, entry.method, 2);
  Put(header, entry.dosTime, 2);
  Put(header, entry.dosDate, 2);
  for (int field = 0; field < 3; ++field) Put(header, 0, 4);  // CRC and sizes, patched below
  Put(header, uint32_t(file.name.size()), 2);
  Put(header, 0, 2);
  header.insert(header.end(), file.name.begin(), file.name.end());
  WriteAll(out, header.data(), header.size(), outPath);

  std::unique_ptr<StubCipher> cipher;
  if (settings.password) cipher = std::make_unique<StubCipher>(*settings.password);
  MemberWriter writer(out, outPath, cipher.get());
  if (cipher) {
    uint8_t encryptionHeader[kEncryptionHeaderSize];
    EncryptionHeader(file, measured, settings, encryptionHeader);
    writer.Write(encryptionHeader, sizeof encryptionHeader);
  }
  Measured copied = CopyData(file.path, entry.method == 0 ? 0 : settings.level, writer, progress);
  if (settings.password && (copied.crc != measured.crc || copied.size != measured.size)) {
    throw PackError(file.path + " changed while it was being zipped");
  }
  if (writer.written() > kLargestMember) throw PackError("the archive exceeds 2 GiB");
  entry.crc = copied.crc;
  entry.uncompressedSize = copied.size;
  entry.compressedSize = uint32_t(writer.written());
  PatchLocalHeader(out, start, entry, outPath);
  return entry;
}

void WriteCentralDirectory(std::FILE *out, const std::string &outPath,
                           const std::vector<CentralEntry> &entries) {
  long start = std::ftell(out);
  if (start < 0 || uint64_t(start) > kLargestMember) throw PackError("the archive exceeds 2 GiB");
  std::vector<uint8_t> bytes;
  for (const CentralEntry &e : entries) {
    Put(bytes, kCentralHeaderSignature, 4);
    Put(bytes, kVersionNeeded, 2);  // made by: MS-DOS, 2.0
    Put(bytes, kVersionNeeded, 2);
    Put(bytes, e.flags, 2);
    Put(bytes, e.method, 2);
    Put(bytes, e.dosTime, 2);
    Put(bytes, e.dosDate, 2);
    Put(bytes, e.crc, 4);
    Put(bytes, e.compressedSize, 4);
    Put(bytes, e.uncompressedSize, 4);
    Put(bytes, uint32_t(e.name.size()), 2);
    Put(bytes, 0, 2);  // extra field
    Put(bytes, 0, 2);  // comment
    Put(bytes, 0, 2);  // disk
    Put(bytes, 0, 2);  // internal attributes
    Put(bytes, 0, 4);  // external attributes
    Put(bytes, e.offset, 4);
    bytes.insert(bytes.end(), e.name.begin(), e.name.end());
  }
  if (entries.size() > 0xFFFF) throw PackError("more than 65535 files");
  uint32_t size = uint32_t(bytes.size());
  Put(bytes, kEndRecordSignature, 4);
  Put(bytes, 0, 2);
  Put(bytes, 0, 2);
  Put(bytes, uint32_t(entries.size()), 2);
  Put(bytes, uint32_t(entries.size()), 2);
  Put(bytes, size, 4);
  Put(bytes, uint32_t(start), 4);
  Put(bytes, 0, 2);
  WriteAll(out, bytes.data(), bytes.size(), outPath);
}

}  // namespace

void DosDateTime(int64_t seconds, uint16_t &dosTime, uint16_t &dosDate) {
  // The DOS calendar runs from 1980 to 2107; times outside are held at its ends.
  const int64_t first = 315532800;   // 1980-01-01 00:00:00 UTC
  const int64_t last = 4354819198;   // 2107-12-31 23:59:58 UTC
  if (seconds < first) seconds = first;
  if (seconds > last) seconds = last;
  time_t when = time_t(seconds);
  std::tm utc{};
  gmtime_r(&when, &utc);
  dosTime = uint16_t((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
  dosDate = uint16_t(((utc.tm_year - 80) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
}

uint64_t ZipWork(const std::vector<SourceFile> &files, const ZipSettings &settings) {
  uint64_t total = 0;
  for (const SourceFile &file : files) total += Stat(file.path).size;
  // Encrypted members are read twice: once for the CRC their header needs.
  return settings.password ? 2 * total : total;
}

void WriteFolderZip(const std::vector<SourceFile> &files, const ZipSettings &settings,
                    const std::string &zipPath, Progress &progress) {
  File out(std::fopen(zipPath.c_str(), "wb"));
  if (!out) throw PackError("cannot create " + zipPath + ": " + std::strerror(errno));
  std::vector<CentralEntry> entries;
  for (const SourceFile &file : files) {
    entries.push_back(WriteMember(out.get(), zipPath, file, settings, progress));
    progress.SetMembersDone(entries.size());
  }
  WriteCentralDirectory(out.get(), zipPath, entries);
  if (std::fflush(out.get()) != 0) throw PackError("cannot write " + zipPath);
}

}  // namespace vantrel_pack
