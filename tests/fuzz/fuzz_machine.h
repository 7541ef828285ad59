// What the fuzz targets that run the stub as a whole share: a fresh machine
// kept in memory, and the check that nothing was made outside the stub's
// temporary folder.
#ifndef VANTREL_FUZZ_MACHINE_H
#define VANTREL_FUZZ_MACHINE_H

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/driver.h"
#include "core/program_state.h"

namespace fuzz_machine {

// The stub's temporary folder on the machine below, as a POSIX path.
const std::string kTempFolder = "/c/temp/$Vantrel.Tmp";

[[noreturn]] inline void Fail(const std::string &why) {
  fprintf(stderr, "fuzz target: %s\n", why.c_str());
  abort();
}

// Drive C: in memory with a temporary path, a Windows folder and the given
// further folders; the program file is C:\<program> (a Windows path
// below C:). Allocations of more than 64 MiB fail, so that texts claiming
// gigabytes fail as a damaged package rather than exhaust the fuzzer.
inline void FreshMachine(const std::vector<std::string> &folders, const std::string &program) {
  host::Reset();
  state = ProgramState{};
  host::UseMemoryFiles();
  host::MapDrive('C', "/c");
  for (const char *folder : {"/c/temp", "/c/windows/system32"}) host::MakeFolders(folder);
  for (const std::string &folder : folders) host::MakeFolders(folder);
  host::SetSystemDirectory("C:\\windows\\system32");
  host::SetWindowsDirectory("C:\\windows");
  host::SetTempPath("C:\\temp\\");
  host::SetCurrentDirectory("C:\\");
  host::SetModuleFileName("C:\\" + program);
  host::FailAllocationsAbove(64 << 20);
}

// Every path on the machine must be a folder it started with, lie below
// one of `kept` (the package's own files), or lie in the temporary folder.
inline void CheckNothingOutside(const std::vector<std::string> &kept) {
  for (const std::string &p : host::TreeBelow("/")) {
    bool allowed = p == "/c" || p == "/c/temp" || p == "/c/windows" || p == "/c/windows/system32" ||
                   p == kTempFolder || p.compare(0, kTempFolder.size() + 1, kTempFolder + "/") == 0;
    for (const std::string &k : kept)
      allowed = allowed || p == k || p.compare(0, k.size() + 1, k + "/") == 0;
    if (!allowed) Fail("created outside the temporary folder: " + p);
  }
}

// FNV-1a: a cheap fingerprint of the input, for the faults a run injects.
inline unsigned long long Fingerprint(const uint8_t *data, size_t size) {
  unsigned long long h = 1469598103934665603ULL;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ULL;
  return h;
}

}  // namespace fuzz_machine

#endif
