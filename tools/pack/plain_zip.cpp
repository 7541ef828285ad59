#include <zip.h>

#include "folder_archive.h"
#include "pack_error.h"

namespace vantrel_pack {
namespace {

std::string ArchiveError(zip_t *archive) { return zip_strerror(archive); }

}  // namespace

void WritePlainZip(const std::vector<SourceFile> &files, int level, const std::string &zipPath) {
  int code = 0;
  zip_t *archive = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!archive) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string message = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw PackError("cannot create " + zipPath + ": " + message);
  }
  for (const SourceFile &file : files) {
    zip_source_t *source = zip_source_file(archive, file.path.c_str(), 0, -1);
    // Names are already in the code page: stored as they are, without the
    // UTF-8 flag, because the stub hands them to the ANSI file functions.
    zip_int64_t index =
        source ? zip_file_add(archive, file.name.c_str(), source, ZIP_FL_ENC_CP437) : -1;
    if (index < 0) {
      if (source) zip_source_free(source);
      std::string message = file.path + ": " + ArchiveError(archive);
      zip_discard(archive);
      throw PackError("cannot add " + message);
    }
    zip_int32_t method = level == 0 ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
    if (zip_set_file_compression(archive, zip_uint64_t(index), method, zip_uint32_t(level)) != 0) {
      std::string message = ArchiveError(archive);
      zip_discard(archive);
      throw PackError("cannot set compression: " + message);
    }
  }
  if (zip_close(archive) != 0) {
    std::string message = ArchiveError(archive);
    zip_discard(archive);
    throw PackError("cannot write " + zipPath + ": " + message);
  }
}

}  // namespace vantrel_pack
