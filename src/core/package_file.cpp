#include "package_file.h"

#include "program_state.h"

void SeekPackage(LONG offset, DWORD origin) {
  state.seekResult = LONG(SetFilePointer(state.packageFile, offset, nullptr, origin));
}
