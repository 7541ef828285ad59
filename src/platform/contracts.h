// What the file calls accept on the oldest Windows the program supports
// (Windows 95 and NT 4.0), checked before the host carries a call out.
//
// Wine and today's Windows take more than those systems do. Each check
// returns true when the call may go on; otherwise it has set the error the
// call fails with on those systems, and the caller fails the call at once.
// Where the two families differ, the stricter rule holds, so that code that
// passes here passes on both. src/platform/README.md lists every rule with
// its source.
#ifndef VANTREL_HOST_CONTRACTS_H
#define VANTREL_HOST_CONTRACTS_H

#include <windows.h>

namespace host {
namespace contract {

// CreateFileA: the name fits MAX_PATH; access, sharing, disposition and
// flags are values both families know.
bool CreateFileAllowed(LPCSTR name, DWORD access, DWORD share, DWORD disposition, DWORD flags);
// ReadFile, WriteFile: a count to fill, and no overlapped I/O on a file.
bool TransferAllowed(LPDWORD count, LPOVERLAPPED overlapped);
// SetFilePointer: one of the three move methods.
bool SeekAllowed(DWORD method);
// DeleteFileA: the name fits, and the file is not open.
bool DeleteAllowed(LPCSTR name);
// CreateDirectoryA: the path leaves room for an 8.3 name (248 with the NUL).
bool FolderCreationAllowed(LPCSTR name);
// RemoveDirectoryA, GetFileAttributesA: the name fits MAX_PATH.
bool PathAllowed(LPCSTR name);
// FindFirstFileA: the pattern fits and does not end in a backslash.
bool SearchAllowed(LPCSTR pattern);

}  // namespace contract
}  // namespace host

#endif
