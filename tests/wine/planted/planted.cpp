// Stands for a program that someone placed beside a downloaded package, or
// inside it, under the name of a system program (rundll32.exe, rundll.exe).
// A setup program must never start it. If it is started anyway, it leaves a
// mark that the tests look for: C:\vantrel-planted.txt with its command line.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HANDLE mark = CreateFileA("C:\\vantrel-planted.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mark != INVALID_HANDLE_VALUE) {
    const char *line = GetCommandLineA();
    DWORD written;
    WriteFile(mark, line, lstrlenA(line), &written, nullptr);
    CloseHandle(mark);
  }
  return 1;
}
