// The temporary folder the package is extracted into: where it lies, and
// its creation, which makes sure that it is the program's own.
#ifndef VANTREL_TEMP_FOLDER_H
#define VANTREL_TEMP_FOLDER_H

// The folder's first name, with its leading backslash, as it is appended
// to the temporary path (or the system directory). Every other name the
// folder may take has the same length.
const char kTempFolderName[] = "\\$Vantrel.Tmp";

// Composes `state.tempDir`: "\$Vantrel.Tmp" under the user's temporary
// path, or under its short form when the path holds a space, or else under
// the system directory -- also when the temporary path is missing or too
// long for the folder to be made within a Windows path. Creates nothing.
void ChooseTempDir();

// Creates the temporary folder, once per run, as this run's own. A folder
// already there under the chosen name (a leftover, or one planted by
// someone else) is left untouched: the next free name in the same place is
// taken instead ("$Vant001.Tmp" up to "$Vant999.Tmp"), and `state.tempDir`
// follows. On the NT family the folder is made for the running user,
// SYSTEM and the Administrators group alone, and passed over should it
// turn out to be a link. When the system directory cannot be written, the
// temporary path serves as it is, space and all. A folder that cannot be
// made is a fatal error, with the system's error code.
void CreateTempFolder();

#endif
