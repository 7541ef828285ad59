#include "removal.h"

#include "../startup/program_state.h"
#include "../startup/text.h"
#include "../ui/resource_ids.h"
#include "../ui/window_helpers.h"

void RemoveExtractedFiles(HWND dialog) {
  for (DWORD i = 0; i < state.extractedCount; ++i) {
    const char *path = state.extractedFiles[i].text;
    DeleteFileA(path);
    char line[kPathBufferSize + 16];
    DWORD n = AppendLiteral(line, 0, sizeof line, "\r\nDeleting ");
    AppendLiteral(line, n, sizeof line, path);
    SetItemText(dialog, IDC_MAIN_TEXT, line);
    PumpOneMessage();
  }
}
