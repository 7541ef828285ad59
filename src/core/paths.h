// Path operations of the extraction: testing for and creating the folders
// of a member under the temporary folder.
#ifndef VANTREL_PATHS_H
#define VANTREL_PATHS_H

#include "program_state.h"

// Replaces every '/' of the text by '\', in place.
void ToBackslashes(char *path);

// True when a file or folder of that name exists. A path that does not end
// in '\' has its '/' turned into '\' in place; a path ending in '\' is found
// through its own entries (a search for path + "*.*").
bool PathExists(char *path);

// The folder part of a path: C:\T\a\b.txt gives C:\T\a, C:\b.txt gives C:\,
// C:b.txt gives C:, b.txt gives an empty string.
void ParentFolder(const CountedString &path, CountedString &parent);

// Creates the folder and every missing folder above it, outermost first. A
// folder that cannot be created is fatal. A chain that stops getting
// shorter (a name with ':' in it) ends without creating anything and returns
// false, so the caller's check finds the folder missing instead of the
// recursion going on without end. True when the folder exists or was made
// (a drive or an empty name counts as existing).
bool CreateFolderPath(const CountedString &folder);

// The same, but a folder that cannot be created returns false (the
// system's error code left for GetLastError) instead of ending the program.
bool TryCreateFolderPath(const CountedString &folder);

#endif
