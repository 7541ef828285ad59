// State shared by the parts of the host platform layer.
#ifndef VANTREL_HOST_STATE_H
#define VANTREL_HOST_STATE_H

#include <windows.h>

#include <string>

#include "driver.h"

namespace host {

// Every handle the layer gives out points to one of these.
struct HostObject {
  enum Kind { kFile, kFind, kProcess, kThread, kToken } kind;
  explicit HostObject(Kind k) : kind(k) {}
  virtual ~HostObject() = default;
};

// Registers a new handle; Lookup returns it when `handle` is live and of
// that kind, else null (and sets ERROR_INVALID_HANDLE).
HANDLE Register(HostObject *object);
HostObject *Lookup(HANDLE handle, HostObject::Kind kind);
bool Unregister(HANDLE handle);
void CloseAllHandles();

// Adds a line to the driver's event log.
void RecordEvent(const std::string &event);

// Messages sent by the system wait for the thread's next retrieval.
bool SentMessagesPending();

// A call scripted to fail: sets the error and returns true.
bool CallFails(const char *name);

// Resets of the parts.
void ResetFiles();
void ResetSystem();
void ResetWindows();
void ResetProcesses();
void ResetSecurity();
void ResetModules();

// The family GetVersionExA reports (true: the NT family), also while the
// call itself is scripted to fail: calls whose contract differs between the
// families follow it.
bool NtFamily();
// What GetVersionExA reports (also while the call is scripted to fail).
OSVERSIONINFOA ReportedVersion();

// Checks the security attributes CreateDirectoryA was given (the Windows 95
// family ignores them) and reads what they say; false, with the error set,
// when they are malformed.
bool CaptureFolderSecurity(const SECURITY_ATTRIBUTES *attributes, FolderSecurity &captured);
void RecordFolderSecurity(const std::string &posixPath, const FolderSecurity &security);

// Copies a text into a caller's buffer of `size` bytes the Win32 way:
// returns the length copied, or the size needed (with the NUL) when it does
// not fit.
DWORD CopyOut(const std::string &text, char *buffer, DWORD size);

}  // namespace host

#endif
