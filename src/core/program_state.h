// The one record of global state. Every field starts as zero when the process
// starts; each subsystem reads and writes the fields it owns.
#ifndef VANTREL_PROGRAM_STATE_H
#define VANTREL_PROGRAM_STATE_H

#include <windows.h>

enum {
  kPathBufferSize = 261,        // 260 characters and the terminating NUL
  kTypedPasswordSize = 80,      // 79 characters and the NUL
  kSystemDirSize = 128,
  kStartDirSize = 256,
  kMaxExtractedFiles = 255,
  kCrcTableBytes = 1028,        // 256 entries and one spare
  kWindowSize = 32768,
  kIoBufferBytes = 32770,       // the decoder's input buffer and window
};

// The offset of the package header: the size of the stub's own image. The
// build pads the linked image to exactly this size.
const LONG kHeaderOffset = 35328;
const DWORD kFixedHeaderSize = 25;

// A counted string: paths and the kept password. `text` is also kept
// NUL-terminated so that it can be handed to the system directly. The
// capacity is that of a Windows path; operations that would exceed it fail
// instead of truncating (a cut path would name a different file).
struct CountedString {
  DWORD length;
  char text[kPathBufferSize];
};

#pragma pack(push, 1)
// The zip local file header exactly as it lies in the archive.
struct LocalHeader {
  DWORD signature;
  WORD versionNeeded;
  WORD flags;
  WORD method;
  WORD dosTime;
  WORD dosDate;
  DWORD crc;
  DWORD compressedSize;
  DWORD uncompressedSize;
  WORD nameLength;
  WORD extraLength;
};
#pragma pack(pop)
static_assert(sizeof(LocalHeader) == 30, "local header is 30 bytes");

struct HuffmanEntry;

struct ProgramState {
  char *tempDir;
  char typedPassword[kTypedPasswordSize];
  char systemDir[kSystemDirSize];
  char startDir[kStartDirSize];
  CountedString password;
  LONG typedPasswordLength;
  CountedString extractedFiles[kMaxExtractedFiles];
  LONG seekResult;
  LONG archiveBase;
  CountedString partPath;
  char *infName;
  char *title;
  BYTE extractOk;
  BYTE installStarted;
  BYTE hasTitle;
  BYTE stayOpen;
  BYTE adminRequired;
  BYTE multiPart;
  BYTE skipIntegrityCheck;
  LONG licenceTextLength;
  LONG welcomeTextLength;
  BYTE storedPasswordLength;
  BYTE extractedCount;
  BYTE ioError;
  const char *welcomeText;
  char *licenceText;
  char *storedPassword;
  LONG totalSize;
  BYTE useAdvpack;
  CountedString rebuiltPath;
  DWORD bitBuffer;
  WORD bitCount;
  BYTE *inputBuffer;
  BYTE *slideWindow;
  WORD inputPos;
  DWORD inputCount;
  WORD windowPos;
  HuffmanEntry *fixedLiteralRoot;
  HuffmanEntry *fixedDistanceRoot;
  DWORD *crcTable;
  DWORD memberCrc;
  DWORD key0, key1, key2;
  DWORD localHeaderSignature;
  LONG bytesLeft;
  DWORD memberOutput;  // bytes of the current member written to its file so far
  DWORD declaredSize;  // the member's uncompressed size, when sizeDeclared is set
  BYTE sizeDeclared;
  HANDLE packageFile;
  HANDLE outFile;
  LocalHeader localHeader;
  // Set while the second advpack run is waited for: a WM_QUERYENDSESSION,
  // retrieved or sent to the main dialog, then ends the program.
  BYTE queryEndSessionEnds;
};

extern ProgramState state;

// The module instance handle the dialogs are created from.
extern HINSTANCE programInstance;

#endif
