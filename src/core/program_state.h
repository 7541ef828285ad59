// The one record of global state. Every field starts as zero when the process
// starts and lives until it ends; each subsystem reads and writes the fields
// it owns, as the comment beside each field says.
//
// The fields, in the order the record declares them, fall into groups:
//   folders and names      tempDir, systemDir, startDir, infName, title,
//                          partPath, rebuiltPath
//   the package header     stayOpen, adminRequired, multiPart,
//                          skipIntegrityCheck, useAdvpack, hasTitle, the
//                          text lengths, totalSize, archiveBase, and the
//                          texts welcomeText, licenceText, storedPassword
//   passwords              typedPassword, typedPasswordLength, password,
//                          key0, key1, key2
//   the run's progress     installStarted, extractOk, ioError,
//                          queryEndSessionEnds, extractedFiles, extractedCount
//   the run's end          quiet, exitCode, failureRecorded
//   the temporary folder   tempDirCreated, tempDirFallback (with tempDir)
//   the package file       packageFile, seekResult
//   the member being       localHeader, localHeaderSignature, outFile,
//   extracted              bytesLeft, memberCrc, memberOutput, declaredSize,
//                          sizeDeclared
//   the decoder's buffers  inputBuffer, inputCount, slideWindow (its bit
//                          buffer, positions and tables are the decoder's
//                          own, in inflate/)
//   shared tables          crcTable
//
// Borrowed roles: during the rebuild of a split package, outFile holds the
// part being READ, and inputBuffer, inputCount and bytesLeft serve the copy
// (its buffer, the bytes of the last read, what is left of the part); the
// decoder resets them for every member.
//
// State outside this record, each private to the file that owns it:
//   programInstance (program_state.cpp)  the module handle the dialogs use
//   randomState (startup/descramble.cpp) the descrambler's generator
//   emptyText (startup/package.cpp)      the empty text of an absent one
//   crcSlices (core/crc32.cpp)           the further tables of the fast CRC
//   bitInput (inflate/bit_input.cpp)     the decoder's bit buffer and input
//   outputWindow (inflate/window.cpp)    the decoder's window position and
//                                        whether it has been written out whole
//   the code tables (inflate/dynamic_block.cpp, fixed_block.cpp)
//                                        the dynamic and fixed codes' tables,
//                                        and whether the fixed ones are built
//   startupInfo (install/launch.cpp)     the start-up record of every child
#ifndef VANTREL_PROGRAM_STATE_H
#define VANTREL_PROGRAM_STATE_H

#include <windows.h>

#include "package_layout.h"

enum {
  kPathBufferSize = 261,        // 260 characters and the terminating NUL
  kTypedPasswordSize = 80,      // 79 characters and the NUL
  kSystemDirSize = 128,
  kStartDirSize = 260,          // MAX_PATH: any current folder fits, with its NUL
  kCrcTableBytes = 1028,        // 256 entries and one spare
  kWindowSize = 32768,
  kIoBufferBytes = 32770,       // the decoder's input buffer and window
};

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

struct ProgramState {
  char *tempDir;                           // the temporary folder: a base and "\$Vantrel.Tmp"
                                           // (or the other name it was made under); no final
                                           // backslash once Install strips it
  char typedPassword[kTypedPasswordSize];  // the password dialog's text; zeroed after each use
  char systemDir[kSystemDirSize];          // GetSystemDirectoryA, 127 characters at most
  char startDir[kStartDirSize];            // the working folder at start, restored after the INF;
                                           // empty when it could not be read
  CountedString password;                  // the last password typed, tried first on each member
  LONG typedPasswordLength;                // characters in typedPassword
  CountedString extractedFiles[kMaxExtractedFiles];  // every file written, for the removal
  LONG seekResult;                         // position after the last SeekPackage; -1 if it failed
  LONG archiveBase;                        // where the zip archive starts in the package file
  CountedString partPath;                  // the part being copied by the rebuild
  char *infName;                           // the INF file's name, relative to tempDir
  char *title;                             // the package's title (dialog and disk prompt caption)
  BYTE extractOk;                          // the last extraction succeeded
  BYTE installStarted;                     // Install was pressed; never cleared again in a run
  BYTE hasTitle;                           // the header gives a title
  BYTE stayOpen;                           // header flag: wait for the user, keep the dialog open
  BYTE adminRequired;                      // header flag: refuse to run without administrator
  BYTE multiPart;                          // header flag: the package continues in part files
  BYTE skipIntegrityCheck;                 // header flag: do not judge the end of the file
  LONG licenceTextLength;                  // as stored; not 0 shows the licence dialog
  LONG welcomeTextLength;                  // as stored; 0 (with stayOpen clear) means unattended
  BYTE storedPasswordLength;               // as stored; the stored password is never used
  BYTE extractedCount;                     // entries in extractedFiles (at most 255)
  BYTE ioError;                            // sticky: a short write, a failed rebuild, or a
                                           // package file that would not open
  const char *welcomeText;                 // the package's welcome text, or the default one
  char *licenceText;                       // the package's licence text (empty when none)
  char *storedPassword;                    // descrambled; consulted by nothing after loading
  LONG totalSize;                          // header: the size of the whole package, all parts
  BYTE useAdvpack;                         // header flag: install through advpack
  CountedString rebuiltPath;               // tempDir\Vantrel.pkg for a split package, else empty
  BYTE *inputBuffer;                       // decoder: the chunk of compressed input (rebuild:
                                           // the copy buffer)
  BYTE *slideWindow;                       // decoder: the output window (32 KiB of history, a batch)
  DWORD inputCount;                        // decoder: bytes the last refill gave (rebuild: the
                                           // last read's count)
  DWORD *crcTable;                         // the CRC-32 table, built at start
  DWORD memberCrc;                         // the CRC-32 register of the member's output
  DWORD key0, key1, key2;                  // the cipher's keys for the member being read
  DWORD localHeaderSignature;              // the local-header signature, made at run time so
                                           // that the image never holds its bytes
  LONG bytesLeft;                          // of the member's data not yet read (rebuild: of the
                                           // part being copied)
  DWORD memberOutput;                      // bytes of the member written to its file so far
  DWORD declaredSize;                      // the member's uncompressed size, if sizeDeclared
  BYTE sizeDeclared;                       // the local header states the uncompressed size
  HANDLE packageFile;                      // the program's own file, or the rebuilt one
  HANDLE outFile;                          // the member's output file (rebuild: the part read)
  LocalHeader localHeader;                 // the local header of the member being extracted
  BYTE queryEndSessionEnds;                // set while the second advpack run is waited for: a
                                           // WM_QUERYENDSESSION then ends the program
  BYTE quiet;                              // the command line asks for a run without any window
  DWORD exitCode;                          // what the run ends with unless it ends at once
  BYTE failureRecorded;                    // exitCode is a failure's, which nothing replaces
  BYTE tempDirCreated;                     // this run made tempDir: only then is it used or
                                           // removed
  BYTE tempDirFallback;                    // tempDir lies in the system directory only because
                                           // the temporary path holds a space
};

extern ProgramState state;

// The module instance handle the dialogs are created from.
extern HINSTANCE programInstance;

#endif
