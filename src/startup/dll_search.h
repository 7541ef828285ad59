// Where Windows may look for the DLLs loaded into the program by name.
#ifndef VANTREL_DLL_SEARCH_H
#define VANTREL_DLL_SEARCH_H

// Keeps the folder the program was started from (usually a download
// folder, where anyone can leave a DLL) and the current folder out of the
// search for DLLs that windows and dialogs pull in by bare name. Must run
// before the first window or message box: from then on those DLLs load.
void RestrictDllSearch();

#endif
