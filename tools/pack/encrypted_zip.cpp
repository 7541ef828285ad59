#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>

#include "folder_archive.h"
#include "pack_error.h"
#include "pending_output.h"

namespace vantrel_pack {
namespace {

constexpr size_t kChunk = 65536;
constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kVersionNeeded = 20;

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct CentralEntry {
  std::string name;
  uint16_t method, dosTime, dosDate;
  uint32_t crc, compressedSize, uncompressedSize, offset;
};

void Put(std::vector<uint8_t> &out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

void DosTimeOf(const std::string &path, uint16_t &dosTime, uint16_t &dosDate) {
  struct stat info;
  std::tm local{};
  time_t when = stat(path.c_str(), &info) == 0 ? info.st_mtime : 0;
  localtime_r(&when, &local);
  if (local.tm_year < 80) {  // the DOS calendar starts in 1980
    dosTime = 0;
    dosDate = (1 << 5) | 1;
    return;
  }
  dosTime = uint16_t((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  dosDate = uint16_t(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
}

File OpenInput(const std::string &path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) throw PackError("cannot open " + path + ": " + std::strerror(errno));
  return file;
}

// First pass over a member: its CRC-32 and size, needed before the
// encryption header can be written.
void MeasureFile(const std::string &path, uint32_t &crc, uint32_t &size) {
  File in = OpenInput(path);
  std::vector<uint8_t> buffer(kChunk);
  uLong value = crc32(0, nullptr, 0);
  uint64_t total = 0;
  size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) {
    value = crc32(value, buffer.data(), uInt(got));
    total += got;
  }
  if (std::ferror(in.get())) throw PackError("cannot read " + path);
  if (total > 0x7FFFFFFF) throw PackError(path + " is larger than 2 GiB");
  crc = uint32_t(value);
  size = uint32_t(total);
}

// Writes the member's data encrypted; returns the bytes written.
class MemberWriter {
 public:
  MemberWriter(std::FILE *out, const std::string &outPath, TraditionalCipher &cipher)
      : out_(out), outPath_(outPath), cipher_(cipher) {}

  void Write(const uint8_t *data, size_t count) {
    std::vector<uint8_t> encrypted(data, data + count);
    for (uint8_t &b : encrypted) b = cipher_.Encrypt(b);
    WriteAll(out_, encrypted.data(), encrypted.size(), outPath_);
    written_ += count;
  }
  uint64_t written() const { return written_; }

 private:
  std::FILE *out_;
  const std::string &outPath_;
  TraditionalCipher &cipher_;
  uint64_t written_ = 0;
};

void CopyData(const std::string &path, int level, MemberWriter &writer) {
  File in = OpenInput(path);
  std::vector<uint8_t> buffer(kChunk), packed(kChunk);
  z_stream stream{};
  // Raw deflate (no zlib wrapper), as zip method 8 stores it.
  if (level > 0 && deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw PackError("cannot start the compressor");
  }
  std::unique_ptr<z_stream, int (*)(z_stream *)> guard(level > 0 ? &stream : nullptr, deflateEnd);
  bool finished = false;
  while (!finished) {
    size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
    if (std::ferror(in.get())) throw PackError("cannot read " + path);
    finished = got < buffer.size();
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
}

void Patch32(std::FILE *out, long offset, uint32_t value, const std::string &outPath) {
  std::vector<uint8_t> bytes;
  Put(bytes, value, 4);
  if (std::fseek(out, offset, SEEK_SET) != 0) throw PackError("cannot seek in " + outPath);
  WriteAll(out, bytes.data(), 4, outPath);
  if (std::fseek(out, 0, SEEK_END) != 0) throw PackError("cannot seek in " + outPath);
}

CentralEntry WriteMember(std::FILE *out, const std::string &outPath, const SourceFile &file,
                         int level, const std::string &password, std::mt19937 &random) {
  CentralEntry entry;
  entry.name = file.name;
  entry.method = level == 0 ? 0 : 8;
  DosTimeOf(file.path, entry.dosTime, entry.dosDate);
  MeasureFile(file.path, entry.crc, entry.uncompressedSize);
  long start = std::ftell(out);
  if (start < 0 || uint64_t(start) > 0x7FFFFFFF) throw PackError("the archive exceeds 2 GiB");
  entry.offset = uint32_t(start);

  std::vector<uint8_t> header;
  Put(header, 0x04034B50, 4);
  Put(header, kVersionNeeded, 2);
  Put(header, kFlagEncrypted, 2);
  Put(header, entry.method, 2);
  Put(header, entry.dosTime, 2);
  Put(header, entry.dosDate, 2);
  Put(header, entry.crc, 4);
  Put(header, 0, 4);  // compressed size, patched below
  Put(header, entry.uncompressedSize, 4);
  Put(header, uint32_t(file.name.size()), 2);
  Put(header, 0, 2);
  header.insert(header.end(), file.name.begin(), file.name.end());
  WriteAll(out, header.data(), header.size(), outPath);

  TraditionalCipher cipher(password);
  MemberWriter writer(out, outPath, cipher);
  // Eleven random bytes, then the check byte: without a data descriptor the
  // reader compares it with the high byte of the CRC.
  uint8_t encryptionHeader[12];
  for (int i = 0; i < 11; ++i) encryptionHeader[i] = uint8_t(random());
  encryptionHeader[11] = uint8_t(entry.crc >> 24);
  writer.Write(encryptionHeader, sizeof encryptionHeader);
  CopyData(file.path, level, writer);
  if (writer.written() > 0x7FFFFFFF) throw PackError("the archive exceeds 2 GiB");
  entry.compressedSize = uint32_t(writer.written());
  Patch32(out, start + 18, entry.compressedSize, outPath);
  return entry;
}

void WriteCentralDirectory(std::FILE *out, const std::string &outPath,
                           const std::vector<CentralEntry> &entries) {
  long start = std::ftell(out);
  if (start < 0 || uint64_t(start) > 0x7FFFFFFF) throw PackError("the archive exceeds 2 GiB");
  std::vector<uint8_t> bytes;
  for (const CentralEntry &e : entries) {
    Put(bytes, 0x02014B50, 4);
    Put(bytes, kVersionNeeded, 2);  // made by: MS-DOS, 2.0
    Put(bytes, kVersionNeeded, 2);
    Put(bytes, kFlagEncrypted, 2);
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
  Put(bytes, 0x06054B50, 4);
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

TraditionalCipher::TraditionalCipher(const std::string &password)
    : key0_(0x12345678), key1_(0x23456789), key2_(0x34567890) {
  for (char c : password) UpdateKeys(uint8_t(c));
}

uint8_t TraditionalCipher::KeyStreamByte() const {
  uint32_t t = (key2_ & 0xFFFF) | 2;
  return uint8_t((t * (t ^ 1)) >> 8);
}

void TraditionalCipher::UpdateKeys(uint8_t plain) {
  const z_crc_t *table = get_crc_table();
  key0_ = table[(key0_ ^ plain) & 0xFF] ^ (key0_ >> 8);
  key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
  key2_ = table[(key2_ ^ (key1_ >> 24)) & 0xFF] ^ (key2_ >> 8);
}

uint8_t TraditionalCipher::Encrypt(uint8_t plain) {
  uint8_t cipher = plain ^ KeyStreamByte();
  UpdateKeys(plain);
  return cipher;
}

uint8_t TraditionalCipher::Decrypt(uint8_t cipher) {
  uint8_t plain = cipher ^ KeyStreamByte();
  UpdateKeys(plain);
  return plain;
}

void WriteEncryptedZip(const std::vector<SourceFile> &files, int level, const std::string &password,
                       const std::string &zipPath) {
  File out(std::fopen(zipPath.c_str(), "wb"));
  if (!out) throw PackError("cannot create " + zipPath + ": " + std::strerror(errno));
  std::random_device seed;
  std::mt19937 random(seed());
  std::vector<CentralEntry> entries;
  for (const SourceFile &file : files) {
    entries.push_back(WriteMember(out.get(), zipPath, file, level, password, random));
  }
  WriteCentralDirectory(out.get(), zipPath, entries);
  if (std::fflush(out.get()) != 0) throw PackError("cannot write " + zipPath);
}

}  // namespace vantrel_pack
