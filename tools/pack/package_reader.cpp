#include "package_reader.h"

#include "pack_error.h"

namespace vantrel_pack {
namespace {

// Reads fields one after another as the stub does: a field the file ends
// in the middle of reads as zero, and the view is marked cut short.
class FieldReader {
 public:
  FieldReader(const ByteSource &source, uint64_t offset, bool &cutShort)
      : source_(source), offset_(offset), cutShort_(cutShort) {}

  uint32_t Number(int bytes) {
    std::vector<uint8_t> b = Take(size_t(bytes));
    if (b.size() < size_t(bytes)) return 0;
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | b[size_t(i)];
    return value;
  }

  std::string Text(int64_t length) {
    if (length <= 0) return std::string();
    std::vector<uint8_t> b = Take(size_t(length));
    return std::string(b.begin(), b.end());
  }

 private:
  std::vector<uint8_t> Take(size_t count) {
    std::vector<uint8_t> b = source_.ReadBytes(offset_, count);
    if (b.size() < count) cutShort_ = true;
    offset_ += count;
    return b;
  }

  const ByteSource &source_;
  uint64_t offset_;
  bool &cutShort_;
};

void ReadHeader(const ByteSource &programFile, PackageView &view) {
  std::vector<uint8_t> magic = programFile.ReadBytes(kStubSize, 3);
  view.hasMagic = magic.size() == 3 && magic[0] == 'Z' && magic[1] == 'E' && magic[2] == 'P';
  if (!view.hasMagic) return;
  FieldReader in(programFile, kStubSize + 3, view.cutShort);
  PackageHeader &h = view.header;
  h.stayOpen = in.Number(1) != 0;
  uint32_t titleLength = in.Number(1);
  uint32_t infLength = in.Number(1);
  h.adminRequired = in.Number(1) != 0;
  uint32_t passwordLength = in.Number(1);
  int32_t welcomeLength = int32_t(in.Number(4));
  int32_t licenceLength = int32_t(in.Number(4));
  h.reserved16 = uint8_t(in.Number(1));
  h.multiPart = in.Number(1) != 0;
  h.skipIntegrityCheck = in.Number(1) != 0;
  h.useAdvpack = in.Number(1) != 0;
  h.reserved20 = uint8_t(in.Number(1));
  h.totalSize = int32_t(in.Number(4));

  PackageTexts &t = view.texts;
  t.title = in.Text(titleLength);
  t.infName = in.Text(infLength);
  t.storedPassword = ScrambleText(in.Text(passwordLength));
  t.welcomeText = ScrambleText(in.Text(welcomeLength));
  t.licenceText = ScrambleText(in.Text(licenceLength));
  // The stub computes the archive's offset from the stored lengths, even
  // those of texts it did not use (a negative length counts as it is).
  view.archiveBase = uint64_t(int64_t(kTextsOffset) + titleLength + infLength + passwordLength +
                              int64_t(welcomeLength) + int64_t(licenceLength));
}

// Adds the numbered parts beside the program file until the package
// reaches its total size, as the stub's rebuild would.
void AddParts(PackageView &view) {
  for (int number = 1; int64_t(view.bytes->Size()) < int64_t(view.header.totalSize); ++number) {
    if (number > kMaxNumberedParts) {
      view.tooManyParts = true;
      return;
    }
    if (!view.bytes->AddFile(PartName(view.path, number))) {
      view.missingPart = number;
      return;
    }
  }
}

}  // namespace

PackageView ReadPackage(const std::string &path) {
  PackageView view;
  view.path = path;
  view.bytes = std::make_unique<PieceSet>();
  if (!view.bytes->AddFile(path)) throw PackError("cannot open " + path);
  view.programFileSize = view.bytes->Size();
  ReadHeader(*view.bytes, view);
  if (view.hasMagic && view.header.multiPart) AddParts(view);
  return view;
}

}  // namespace vantrel_pack
