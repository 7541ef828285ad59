#include "paths.h"

#include "runtime.h"
#include "text.h"

void ToBackslashes(char *path) {
  for (; *path; ++path) {
    if (*path == '/') *path = '\\';
  }
}

bool PathExists(char *path) {
  DWORD n = TextLength(path);
  char search[kPathBufferSize + 4];
  if (n > 0 && path[n - 1] == '\\') {
    // A folder is found through its own entries; one that cannot be named
    // within a Windows path does not exist for us.
    if (n + sizeof "*.*" > sizeof search) return false;
    CopyBytes(search, path, n);
    CopyBytes(search + n, "*.*", sizeof "*.*");
    ToBackslashes(search);
    path = search;
  } else {
    ToBackslashes(path);
  }
  WIN32_FIND_DATAA found;
  HANDLE search_handle = FindFirstFileA(path, &found);
  if (search_handle == INVALID_HANDLE_VALUE) return false;
  FindClose(search_handle);
  return true;
}

void ParentFolder(const CountedString &path, CountedString &parent) {
  const char *p = path.text;
  DWORD n = path.length;
  bool hasColon = false;
  for (DWORD i = 0; i < n; ++i) hasColon = hasColon || p[i] == ':';
  if (n == 3 && hasColon) {
    AssignBytes(parent, p, n);
    return;
  }
  DWORD i = n;
  while (i > 0 && p[i - 1] != '\\' && p[i - 1] != '/' && p[i - 1] != ':') --i;
  if (i > 0 && p[i - 1] != ':' && !(i == 3 && p[1] == ':')) --i;
  AssignBytes(parent, p, i);
}

static bool CreateFolderChain(const CountedString &folder, bool fatal) {
  CountedString path;
  AssignBytes(path, folder.text, folder.length);
  if (path.length > 0 && path.text[path.length - 1] == '\\') {
    path.text[--path.length] = 0;
  }
  if (path.length < 3) return true;
  if (PathExists(path.text)) return true;
  CountedString parent;
  ParentFolder(path, parent);
  // Only a shorter parent leads towards the drive; anything else (a ':'
  // inside the name) would repeat this call for ever. Nothing below a
  // chain that cannot be followed is created.
  if (parent.length >= path.length) return false;
  if (!CreateFolderChain(parent, fatal)) return false;
  if (CreateDirectoryA(path.text, nullptr)) return true;
  if (fatal) FatalSystemError();
  return false;
}

bool CreateFolderPath(const CountedString &folder) { return CreateFolderChain(folder, true); }

bool TryCreateFolderPath(const CountedString &folder) { return CreateFolderChain(folder, false); }
