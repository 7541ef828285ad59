#include "dll_search.h"

#include <windows.h>

#include "../core/program_state.h"
#include "../core/system_function.h"
#include "../core/text.h"

namespace {
// LOAD_LIBRARY_SEARCH_SYSTEM32: DLLs loaded by name come from the system
// folder only.
const DWORD kSearchSystemFolderOnly = 0x800;

typedef BOOL(WINAPI *SetDefaultDllDirectoriesCall)(DWORD directoryFlags);
typedef BOOL(WINAPI *SetDllDirectoryCall)(LPCSTR folder);

// What creating a window or a dialog loads by bare name on the systems
// that lack the search restriction (the themes, the composition manager,
// input methods and text services, complex script shaping). A DLL already
// loaded is found by its name, so loading these first from the system
// folder leaves nothing for the search to find elsewhere.
const char *const kWindowDlls[] = {"uxtheme.dll", "dwmapi.dll", "imm32.dll",
                                   "msctf.dll",   "lpk.dll",    "usp10.dll"};

// Only files that are there: a DLL that cannot be found may make the
// oldest systems ask about it in a message box.
void LoadWindowDllsFromSystemFolder() {
  char path[kPathBufferSize];
  UINT n = GetSystemDirectoryA(path, kPathBufferSize);
  if (n == 0 || n + 16 > kPathBufferSize) return;
  for (const char *name : kWindowDlls) {
    AppendLiteral(path, AppendLiteral(path, n, sizeof path, "\\"), sizeof path, name);
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) LoadLibraryA(path);
  }
}
}  // namespace

// SetDefaultDllDirectories (Windows 8, and 7 or Vista with KB2533623)
// takes both folders out of every later search. SetDllDirectoryA("")
// (XP SP1 onwards) takes out the current folder only, so where it is the
// best there is, the window DLLs are loaded from the system folder as on
// the systems that have neither.
void RestrictDllSearch() {
  auto setDefault =
      SystemFunction<SetDefaultDllDirectoriesCall>("kernel32.dll", "SetDefaultDllDirectories");
  if (setDefault && setDefault(kSearchSystemFolderOnly)) return;
  auto setDirectory = SystemFunction<SetDllDirectoryCall>("kernel32.dll", "SetDllDirectoryA");
  if (setDirectory) setDirectory("");
  LoadWindowDllsFromSystemFolder();
}
