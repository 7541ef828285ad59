// Zipping a folder's files for a package. The archive is written by our
// own small writer rather than a zip library, so
// that every byte is decided here: the traditional encryption as the stub
// checks it (check byte from the CRC, sizes in the local header), and
// nothing that differs between machines or runs (file modes, time zones,
// extra fields).
#ifndef VANTREL_PACK_FOLDER_ZIP_H
#define VANTREL_PACK_FOLDER_ZIP_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "folder_source.h"
#include "progress.h"

namespace vantrel_pack {

struct ZipSettings {
  int level = 6;  // 0 stores; 1..9 deflate
  // In the code page; when given, every member is encrypted with it.
  std::optional<std::string> password;
  // SOURCE_DATE_EPOCH: member times no later than this (seconds since
  // 1970, UTC), and the random bytes of encryption headers derived from the
  // inputs instead, so that the same inputs give the same package.
  std::optional<int64_t> sourceDateEpoch;
};

// Zips the files into a new archive at `zipPath`, reporting the bytes read
// and the members written to `progress`.
void WriteFolderZip(const std::vector<SourceFile> &files, const ZipSettings &settings,
                    const std::string &zipPath, Progress &progress);

// The bytes WriteFolderZip will read for these files, for the progress
// display.
uint64_t ZipWork(const std::vector<SourceFile> &files, const ZipSettings &settings);

// The DOS date and time of a moment (seconds since 1970, UTC), held within
// the years DOS can name.
void DosDateTime(int64_t seconds, uint16_t &dosTime, uint16_t &dosDate);

// The traditional zip cipher, exposed for tests.
class TraditionalCipher {
 public:
  explicit TraditionalCipher(const std::string &password);
  uint8_t Encrypt(uint8_t plain);
  uint8_t Decrypt(uint8_t cipher);

 private:
  uint8_t KeyStreamByte() const;
  void UpdateKeys(uint8_t plain);
  uint32_t key0_, key1_, key2_;
};

}  // namespace vantrel_pack

#endif
