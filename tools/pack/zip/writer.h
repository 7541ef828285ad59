// Zipping a folder's files for a package. The archive is written by our
// own small writer rather than a zip library, so that every byte is decided
// here: the traditional encryption as the stub checks it (check byte from
// the CRC, sizes in the local header, the stub's own cipher), and nothing
// that differs between machines or runs (file modes, time zones, extra
// fields).
#ifndef VANTREL_PACK_ZIP_WRITER_H
#define VANTREL_PACK_ZIP_WRITER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "folder_source.h"
#include "cli/progress.h"

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

}  // namespace vantrel_pack

#endif
