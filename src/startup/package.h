// Loading the package appended to the program's own file.
#ifndef VANTREL_PACKAGE_H
#define VANTREL_PACKAGE_H

#include <windows.h>

#include "../archive/temp_folder.h"

// Reads the header and texts, chooses the temporary folder, checks the
// package; true when the main dialog may run.
bool LoadPackage();

// The lengths of the two plain texts, which only loading needs.
struct HeaderLengths {
  BYTE title;
  BYTE infName;
};

// Reads the magic and the fixed header that follow the image into the
// program state; false, with every field left zero, when there is no magic.
bool ReadFixedHeader(HeaderLengths &lengths);

// Reads the five texts that follow the fixed header and restores the
// scrambled ones. A text longer than what is left of the file means a
// damaged package: the "corrupted" message ends the program.
void ReadPackageTexts(const HeaderLengths &lengths);

// Where the archive starts: after the fixed header and every text the
// header gives a positive length.
LONG ArchiveBase(const HeaderLengths &lengths);

// The zip end record and the longest comment it can carry: the end of the
// file where an archive's end record must lie.
const LONG kEndRecordSize = 22;
const LONG kMaxEndWindow = kEndRecordSize + 0xFFFF;

// What the end of a package shows. A signed program file ends in its
// certificate table: the package inside it then ends where the table starts,
// give or take the zero padding that aligns the table. Of a split package
// only the program file's signature can be judged; the archive ends in the
// parts.
enum PackageEnd {
  kEndMarked,                  // the file (or the part before the table) ends in "RSF"
  kEndRecordAtEnd,             // an end record, with its comment, reaches the end
  kEndRecordAtCertificates,    // signed: an end record reaches the certificate table
  kEndInParts,                 // split: the program file is unsigned or signed in place
  kArchiveTooShort,            // 22 bytes or fewer follow archiveBase
  kEndUnreadable,              // the last bytes cannot be read
  kNoEndRecordAtEnd,           // no end record reaches the end of the file
  kNoEndRecordAtCertificates,  // signed: no end record reaches the certificate table
  kSecurityEntryRefused,       // the security entry names no table closing the file
  kChangedAfterSigning,        // the image checksum no longer matches the file
};
inline bool PackageEndPasses(PackageEnd end) { return end <= kEndInParts; }
PackageEnd JudgePackageEnd();

// Returns only when the package's end passes JudgePackageEnd; otherwise
// shows the "corrupted" message and ends the program.
void CheckPackageIntegrity();

// The "corrupted" message, then the end of the program with exit code 0,
// without the exit sequence (no temporary folder exists yet).
[[noreturn]] void RejectCorruptPackage();

// Releases the texts LoadPackage allocated.
void ReleasePackageTexts();

extern const char kDefaultWelcomeText[];

#endif
