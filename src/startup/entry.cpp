#include "entry.h"

#include "../core/crc32.h"
#include "../core/outcome.h"
#include "../ui/dialogs.h"
#include "command_line.h"
#include "dll_search.h"
#include "package.h"
#include "../core/program_state.h"
#include "../core/runtime.h"

namespace {
void InitBuffers() {
  state.infName = static_cast<char *>(AllocateBlock(kPathBufferSize));
  state.tempDir = static_cast<char *>(AllocateBlock(kPathBufferSize));
  state.title = static_cast<char *>(AllocateBlock(kPathBufferSize));
  state.infName[0] = state.tempDir[0] = state.title[0] = 0;
}

void ReleaseBuffers() {
  ReleasePackageTexts();
  ReleaseBlock(state.infName);
  ReleaseBlock(state.tempDir);
  ReleaseBlock(state.title);
  state.infName = state.tempDir = state.title = nullptr;
}
}  // namespace

// Closes the package, deletes a rebuilt package file and removes the
// temporary folder when the clean-up has left it empty. The package is
// closed whenever it is open, also after a short write has set ioError:
// Windows NT does not delete an open file, and the rebuilt one would stay.
// A folder of that name that this run did not make is someone else's.
void RunExitSequence() {
  bool open = state.packageFile != INVALID_HANDLE_VALUE && state.packageFile != nullptr;
  if (open && !CloseHandle(state.packageFile)) {
    ReportFailure(kExitFailed, "Cannot close the file", "Error");
  }
  DeleteFileA(state.rebuiltPath.text);
  ReleaseBlock(state.crcTable);
  state.crcTable = nullptr;
  if (state.tempDirCreated) RemoveDirectoryA(state.tempDir);
}

void InitProgramState() {
  InitBuffers();
  state.crcTable = static_cast<DWORD *>(AllocateBlock(kCrcTableBytes));
  BuildCrcTable();
}

int RunProgram() {
  // Before anything can show a window, which loads DLLs by name.
  RestrictDllSearch();
  // Known before anything can fail: a quiet run shows no message at all.
  state.quiet = QuietSwitchGiven(GetCommandLineA());
  StartOutcome();
  InitProgramState();
  if (LoadPackage()) RunInstallation();
  RunExitSequence();
  ReleaseBuffers();
  return int(state.exitCode);
}

#ifdef _WIN32
// The image's entry point: there is no C runtime to start.
extern "C" void __stdcall StubEntry() {
  programInstance = GetModuleHandleA(nullptr);
  ExitProcess(UINT(RunProgram()));
}
#endif
