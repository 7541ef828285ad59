// Zipping a folder for a package: every regular file below it, in name
// order, names in the package's code page with '/' between folders.
// Unencrypted archives are written by libzip; encrypted ones by our own
// small writer, since the traditional encryption must be written the way
// the stub checks it (check byte from the CRC, sizes in the local header).
#ifndef VANTREL_PACK_FOLDER_ARCHIVE_H
#define VANTREL_PACK_FOLDER_ARCHIVE_H

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel_pack {

struct SourceFile {
  std::string path;  // on this machine
  std::string name;  // member name, in the code page
};

// Throws PackError for an unreadable folder, a name the code page cannot
// hold, or anything that is neither a file nor a folder.
std::vector<SourceFile> CollectFolder(const std::string &folder, int codePage);

// Deflates (level 1..9) or stores (level 0) the files into a new zip at
// `zipPath`.
void WritePlainZip(const std::vector<SourceFile> &files, int level, const std::string &zipPath);

// The same with every member encrypted with the traditional zip
// encryption under `password` (bytes in the code page).
void WriteEncryptedZip(const std::vector<SourceFile> &files, int level, const std::string &password,
                       const std::string &zipPath);

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
