// Extracting the package's zip archive into the temporary folder.
#ifndef VANTREL_EXTRACT_H
#define VANTREL_EXTRACT_H

#include <windows.h>

// Walks the archive's local headers in file order and extracts every member
// into tempDir, writing status lines into the dialog's text area; the result
// is state.extractOk.
void ExtractArchive(HWND dialog);

#endif
