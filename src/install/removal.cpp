#include "removal.h"

#include "../core/program_state.h"
#include "../core/text.h"
#include "../core/progress.h"

void RemoveExtractedFiles(HWND dialog) {
  for (DWORD i = 0; i < state.extractedCount; ++i) {
    const char *path = state.extractedFiles[i].text;
    DeleteFileA(path);
    char line[kPathBufferSize + 16];
    DWORD n = AppendLiteral(line, 0, sizeof line, "\r\nDeleting ");
    AppendLiteral(line, n, sizeof line, path);
    ShowProgress(dialog, line);
  }
}
