// A package as the stub's loader reads it: the fixed header and the texts,
// where the archive starts, the verdict on the end of the file, the
// signature, and for a split package the stub's own rebuild of its parts.
// Also the stub's procedures that shape what the packer writes: the
// scrambling of the texts and the names of the parts.
#ifndef VANTREL_PACK_BRIDGE_STUB_PACKAGE_H
#define VANTREL_PACK_BRIDGE_STUB_PACKAGE_H

#include <cstdint>
#include <string>

#include "startup/package.h"
#include "startup/signature.h"
#include "stub_session.h"

namespace vantrel_pack {

// The fixed header's fields, as the stub reads them and the packer writes
// them (core/package_layout.h says where each lies).
struct PackageHeader {
  bool stayOpen = false;
  bool adminRequired = false;
  bool multiPart = false;
  bool skipIntegrityCheck = false;
  bool useAdvpack = false;
  uint8_t reserved16 = 0;
  uint8_t reserved20 = 0;
  int32_t totalSize = 0;
};

// The texts in plain form, as bytes in the package's ANSI code page.
struct PackageTexts {
  std::string title;
  std::string infName;
  std::string storedPassword;
  std::string welcomeText;
  std::string licenceText;
};

struct StubLoad {
  bool hasMagic = false;
  // A scrambled text runs past the end of the file: the stub calls the
  // package corrupted as soon as it reads that text.
  bool textPastEnd = false;
  PackageHeader header;  // the reserved bytes are not the stub's to read
  PackageTexts texts;    // empty where the header gives no positive length
  uint64_t archiveBase = 0;
  // The stub's verdict on the end of the file (it acts on it only when the
  // package is in one part and the check is not switched off).
  PackageEnd end = kNoEndRecordAtEnd;
  // The certificate table the image's security entry names, as the entry
  // gives it, also when the stub refuses it.
  SignatureShape signature = kNotSigned;
  uint64_t certificateTableStart = 0;
  uint64_t certificateTableSize = 0;
  // Of a split package once rebuilt: whether the stub's rebuild succeeded,
  // the part it could not open (1: the file ending in 001; 0: none), and
  // the rebuilt file on this machine.
  bool rebuildFailed = false;
  int missingPart = 0;
  std::string rebuiltPath;
};

// Loads the session's package with the stub's procedures. With `rebuild`,
// a split package is rebuilt by the stub into the session's scratch folder
// (nobody can insert a missing disk here, so its prompt is cancelled). The
// package file is then open for the stub's walk: the program file, or the
// rebuilt one. Throws PackError when the file cannot be opened.
StubLoad LoadWithTheStub(StubSession &session, bool rebuild);

// Scrambles or unscrambles (the same operation) a stored text.
std::string ScrambleText(const std::string &text);

// The name of part `number` (1..255) of a package whose program file is
// `programPath`, as the stub's rebuild names it.
std::string PartName(const std::string &programPath, int number);

}  // namespace vantrel_pack

#endif
