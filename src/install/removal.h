// Deleting the files the extraction wrote.
#ifndef VANTREL_REMOVAL_H
#define VANTREL_REMOVAL_H

#include <windows.h>

// Deletes every recorded file, oldest first, showing "Deleting " and the
// path in the main dialog's text area for each.
void RemoveExtractedFiles(HWND dialog);

#endif
